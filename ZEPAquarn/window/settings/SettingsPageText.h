#pragma once

#include "audio/AudioInputDevice.h"
#include "pipeline/LanguageCatalogue.h"
#include "runtime/BackendKind.h"
#include "window/AppWindowSection.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace zq {

// The words and choices of the settings pages, computed from settings and devices without any
// widget, so the pages only lay them out.

// A row's detail line and the colour it is drawn in. A check says whether it passed when it makes
// its result; the mark at the start of the text ("✓ ", "✗ ") follows from that, never the other way.
enum class DetailTone { tertiary, success, danger };
struct RowStatus {
    DetailTone tone = DetailTone::tertiary;
    QString text;

    static RowStatus passed(const QString &what);
    static RowStatus failed(const QString &why);
    bool isEmpty() const { return text.isEmpty(); }
    friend bool operator==(const RowStatus &, const RowStatus &) = default;
};

// One choice of a settings picker.
struct PickerChoice {
    QString value;
    QString label;
    QString symbol; // empty: no symbol

    friend bool operator==(const PickerChoice &, const PickerChoice &) = default;
};

// The microphone picker: "Automatic" first, then each device with its transport's note.
std::vector<PickerChoice> inputPickerChoices(const std::vector<AudioInputDevice> &devices);
// The hint under the microphone picker for the stored "inputDevice".
QString inputHint(const QString &inputDevice, const std::vector<AudioInputDevice> &devices);

// The background-audio picker, its detail line and its leading symbol for "audioDuringDictation".
std::vector<PickerChoice> backgroundAudioChoices();
QString backgroundAudioDetail(const QString &audioDuringDictation);
QString backgroundAudioSymbol(const QString &audioDuringDictation);

// The engine picker and its leading symbol for "backend".
std::vector<PickerChoice> engineChoices();
QString engineSymbol(BackendKind backend);
// "System language" first, then the languages of the engine that "backend" selects; last `kept`, a
// stored language the engine has no model for, so that the picker names it rather than "Choose…".
std::vector<PickerChoice> languageChoices(const LanguageCatalogue &languages, const QString &backend,
                                          const std::optional<Language> &kept = std::nullopt);

// The note under the language picker for a language the on-device engine has no model for.
struct LanguageNote {
    QString title;
    QString detail;

    friend bool operator==(const LanguageNote &, const LanguageNote &) = default;
};
LanguageNote unsupportedLanguageNote(const Language &language);
// The detail of the cleanup row: included in the OpenAI engine's transcription, or done on-device.
QString cleanupDetail(BackendKind backend);

// One question of a page, with its answer.
struct Question {
    QString question;
    QString answer;
};
struct QuestionGroup {
    QString title;
    std::vector<Question> questions;
};
// The FAQ page's three groups. "How do I dictate?" names `triggersInForce` ("Right Control or F8"), the
// triggers that can start a take here; empty when none can.
std::vector<QuestionGroup> faqGroups(const QString &triggersInForce);
// The two questions of the Audio page and the two of the on-device engine.
const std::vector<Question> &alwaysOnQuestions();
const std::vector<Question> &onDeviceLanguageQuestions();

// The steps of the API key help, and the page its link opens.
QStringList apiKeyHelpSteps();
QString apiKeyPageTitle();
QString apiKeyPageUrl();

} // namespace zq
