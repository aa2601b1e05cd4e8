#include "pipeline/LanguageCatalogue.h"

#include "runtime/BackendKind.h"

#include <algorithm>

namespace zq {

namespace {

QList<Language> makeTable(std::initializer_list<std::pair<const char *, const char *>> entries)
{
    QList<Language> table;
    table.reserve(static_cast<qsizetype>(entries.size()));
    for (const auto &[code, name] : entries)
        table.append(Language{QString::fromLatin1(code), QString::fromLatin1(name)});
    return table;
}

const QLatin1String kAuto("auto");

} // namespace

const QList<Language> &openAILanguages()
{
    static const QList<Language> table = makeTable({
        {"af", "Afrikaans"},  {"ar", "Arabic"},     {"hy", "Armenian"},   {"az", "Azerbaijani"}, {"be", "Belarusian"},
        {"bs", "Bosnian"},    {"bg", "Bulgarian"},  {"ca", "Catalan"},    {"zh", "Chinese"},     {"hr", "Croatian"},
        {"cs", "Czech"},      {"da", "Danish"},     {"nl", "Dutch"},      {"en", "English"},     {"et", "Estonian"},
        {"fi", "Finnish"},    {"fr", "French"},     {"gl", "Galician"},   {"de", "German"},      {"el", "Greek"},
        {"he", "Hebrew"},     {"hi", "Hindi"},      {"hu", "Hungarian"},  {"is", "Icelandic"},   {"id", "Indonesian"},
        {"it", "Italian"},    {"ja", "Japanese"},   {"kn", "Kannada"},    {"kk", "Kazakh"},      {"ko", "Korean"},
        {"lv", "Latvian"},    {"lt", "Lithuanian"}, {"mk", "Macedonian"}, {"ms", "Malay"},       {"mi", "Maori"},
        {"mr", "Marathi"},    {"ne", "Nepali"},     {"no", "Norwegian"},  {"fa", "Persian"},     {"pl", "Polish"},
        {"pt", "Portuguese"}, {"ro", "Romanian"},   {"ru", "Russian"},    {"sr", "Serbian"},     {"sk", "Slovak"},
        {"sl", "Slovenian"},  {"es", "Spanish"},    {"sw", "Swahili"},    {"sv", "Swedish"},     {"tl", "Tagalog"},
        {"ta", "Tamil"},      {"th", "Thai"},       {"tr", "Turkish"},    {"uk", "Ukrainian"},   {"ur", "Urdu"},
        {"vi", "Vietnamese"}, {"cy", "Welsh"},
    });
    return table;
}

namespace {

const Language *findCode(const QList<Language> &table, const QString &code)
{
    for (const Language &entry : table) {
        if (entry.code == code)
            return &entry;
    }
    return nullptr;
}

bool isLowerCaseCode(const QString &code)
{
    if (code.size() < 2 || code.size() > 3)
        return false;
    for (QChar c : code) {
        if (c < QLatin1Char('a') || c > QLatin1Char('z'))
            return false;
    }
    return true;
}

} // namespace

std::optional<Language> namedLanguage(const QString &code)
{
    if (const Language *entry = findCode(openAILanguages(), code))
        return *entry;
    if (!isLowerCaseCode(code))
        return std::nullopt;
    const QLocale::Language language = QLocale::codeToLanguage(code);
    if (language == QLocale::AnyLanguage || language == QLocale::C)
        return std::nullopt;
    return Language{code, QLocale::languageToString(language)};
}

LanguageCatalogue::LanguageCatalogue(const QStringList &installedCodes)
{
    for (const QString &code : installedCodes) {
        const std::optional<Language> language = namedLanguage(code);
        if (language && !findCode(m_local, code))
            m_local.append(*language);
    }
    std::sort(m_local.begin(), m_local.end(),
              [](const Language &a, const Language &b) { return a.displayName < b.displayName; });
}

const QList<Language> &LanguageCatalogue::languages(const QString &backend) const
{
    return backendKindOf(backend) == BackendKind::openai ? openAILanguages() : m_local;
}

bool LanguageCatalogue::isLanguageSupported(const QString &language, const QString &backend) const
{
    if (language == kAuto)
        return true;
    return findCode(languages(backend), language) != nullptr;
}

bool LanguageCatalogue::keepsLanguage(const QString &language, const QString &backend) const
{
    if (isLanguageSupported(language, backend))
        return true;
    return backendKindOf(backend) != BackendKind::openai && namedLanguage(language).has_value();
}

std::optional<Language> LanguageCatalogue::unsupportedSystemLanguage(const QString &backend, const QString &language,
                                                                     const QString &systemLanguageCode) const
{
    // Only the on-device engine's own name warns; a name no engine has does not.
    if (fromRawValue<BackendKind>(backend) != BackendKind::local || language != kAuto)
        return std::nullopt;
    // A three-letter system code never warns, also when the OpenAI engine would know it.
    if (systemLanguageCode.size() != 2 || findCode(m_local, systemLanguageCode))
        return std::nullopt;
    if (const Language *entry = findCode(openAILanguages(), systemLanguageCode))
        return *entry;
    return std::nullopt;
}

std::optional<Language> LanguageCatalogue::unsupportedSystemLanguage(const QString &backend, const QString &language,
                                                                     const QLocale &locale) const
{
    // The "C" locale and an unknown language have no language code.
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return std::nullopt;
    return unsupportedSystemLanguage(backend, language, QLocale::languageToCode(locale.language()));
}

std::optional<Language> LanguageCatalogue::unsupportedLanguage(const QString &backend, const QString &language,
                                                               const QLocale &locale) const
{
    if (language == kAuto)
        return unsupportedSystemLanguage(backend, language, locale);
    if (fromRawValue<BackendKind>(backend) != BackendKind::local || findCode(m_local, language))
        return std::nullopt;
    return namedLanguage(language);
}

} // namespace zq
