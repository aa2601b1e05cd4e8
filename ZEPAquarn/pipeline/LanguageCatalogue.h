#pragma once

#include <QList>
#include <QLocale>
#include <QString>

#include <optional>

namespace zq {

// A transcription language: its lower-case code (the value stored in the "language" setting) and
// its English display name.
struct Language {
    QString code;
    QString displayName;

    friend bool operator==(const Language &, const Language &) = default;
};

// The languages each engine offers, sorted by display name. "auto" (follow the system language)
// is in neither table and is accepted by both engines.
const QList<Language> &openAILanguages(); // 57 entries, "backend" = "openai"
const QList<Language> &localLanguages();  // 16 entries, every other "backend" value

// Whether `language` (a "language" setting value) can be used with `backend` (a "backend" setting
// value). Codes are compared exactly: "EN" or "en-US" are not supported.
bool isLanguageSupported(const QString &language, const QString &backend);

// The system language that the on-device engine cannot follow but the OpenAI engine could, when
// the user chose "auto" with the on-device engine; none in every other case. `systemLanguageCode`
// is the system locale's language code ("pl", "yue"); only two-letter codes can give a warning.
std::optional<Language> unsupportedSystemLanguage(const QString &backend, const QString &language,
                                                  const QString &systemLanguageCode);
// The same, with the language code taken from `locale` (callers pass QLocale::system()).
std::optional<Language> unsupportedSystemLanguage(const QString &backend, const QString &language,
                                                  const QLocale &locale);

} // namespace zq
