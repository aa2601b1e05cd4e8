#include "pipeline/LanguageCatalogue.h"

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

const QList<Language> &localLanguages()
{
    static const QList<Language> table = makeTable({
        {"yue", "Cantonese"},
        {"zh", "Chinese"},
        {"da", "Danish"},
        {"nl", "Dutch"},
        {"en", "English"},
        {"fr", "French"},
        {"de", "German"},
        {"it", "Italian"},
        {"ja", "Japanese"},
        {"ko", "Korean"},
        {"no", "Norwegian"},
        {"pt", "Portuguese"},
        {"es", "Spanish"},
        {"sv", "Swedish"},
        {"tr", "Turkish"},
        {"vi", "Vietnamese"},
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

} // namespace

bool isLanguageSupported(const QString &language, const QString &backend)
{
    if (language == kAuto)
        return true;
    const auto &table = backend == QLatin1String("openai") ? openAILanguages() : localLanguages();
    return findCode(table, language) != nullptr;
}

std::optional<Language> unsupportedSystemLanguage(const QString &backend, const QString &language,
                                                  const QString &systemLanguageCode)
{
    if (backend != QLatin1String("local") || language != kAuto)
        return std::nullopt;
    // A three-letter system code never warns, also when the OpenAI engine would know it.
    if (systemLanguageCode.size() != 2 || findCode(localLanguages(), systemLanguageCode))
        return std::nullopt;
    if (const Language *entry = findCode(openAILanguages(), systemLanguageCode))
        return *entry;
    return std::nullopt;
}

std::optional<Language> unsupportedSystemLanguage(const QString &backend, const QString &language,
                                                  const QLocale &locale)
{
    // The "C" locale and an unknown language have no language code.
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return std::nullopt;
    return unsupportedSystemLanguage(backend, language, QLocale::languageToCode(locale.language()));
}

} // namespace zq
