#pragma once

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>

namespace zq {

// A transcription language: its lower-case code (the value stored in the "language" setting) and
// its English display name.
struct Language {
    QString code;
    QString displayName;

    friend bool operator==(const Language &, const Language &) = default;
};

// The languages the OpenAI engine offers (BackendKind::openai), sorted by display name.
const QList<Language> &openAILanguages(); // 57 entries

// A language code with its English name: the OpenAI table's name, else the desktop's. None for a
// value that is not a lower-case code of a known language ("EN", "en-US", "xx", "auto").
std::optional<Language> namedLanguage(const QString &code);

// The languages each engine can transcribe. The on-device list is the languages whose speech
// model is installed on this computer, found once at start; it is a value, handed to whoever
// shows or checks a language. "auto" (follow the system language) is in neither list and is
// accepted by both engines.
class LanguageCatalogue {
public:
    // No on-device language.
    LanguageCatalogue() = default;
    // From the language codes of the installed models: unknown codes and repeats are dropped, the
    // rest sorted by display name.
    explicit LanguageCatalogue(const QStringList &installedCodes);

    // The languages of every "backend" value that selects the on-device engine.
    const QList<Language> &localLanguages() const { return m_local; }
    // The list the pickers offer for `backend`: the list of the engine backendKindOf() picks.
    const QList<Language> &languages(const QString &backend) const;

    // Whether `language` (a "language" setting value) is in the list of `backend`. Codes are
    // compared exactly: "EN" or "en-US" are not supported.
    bool isLanguageSupported(const QString &language, const QString &backend) const;
    // Whether a stored language stays when a page appears or the engine changes; otherwise it is
    // reset to "auto". Besides the supported ones, the on-device engine keeps any known language
    // without a model, so the note can say why it cannot be used instead of silently dropping it.
    bool keepsLanguage(const QString &language, const QString &backend) const;

    // The system language that the on-device engine cannot follow but the OpenAI engine could,
    // when the user chose "auto" with the on-device engine; none in every other case.
    // `systemLanguageCode` is the system locale's language code ("pl", "yue"); only two-letter
    // codes can give a warning.
    std::optional<Language> unsupportedSystemLanguage(const QString &backend, const QString &language,
                                                      const QString &systemLanguageCode) const;
    // The same, with the language code taken from `locale` (callers pass QLocale::system()).
    std::optional<Language> unsupportedSystemLanguage(const QString &backend, const QString &language,
                                                      const QLocale &locale) const;
    // The language the note under the picker names: the system language above for "auto", or a
    // chosen language that has no on-device model here.
    std::optional<Language> unsupportedLanguage(const QString &backend, const QString &language,
                                                const QLocale &locale) const;

    friend bool operator==(const LanguageCatalogue &, const LanguageCatalogue &) = default;

private:
    QList<Language> m_local;
};

} // namespace zq
