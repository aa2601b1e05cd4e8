#pragma once

#include "pipeline/DictationFailure.h"

#include <QString>

namespace zq {

// The user-facing texts of one support code ("ZQ-" area "-" detail). Pure functions of their inputs.
struct IncidentPresentation {
    QString code;
    QString title;
    QString message;
    QString nextStep;

    // `engine` is the "backend" setting of the take (runtime/BackendKind.h); `pasteChord` names the keys
    // that paste in the window in front, for a refused paste only.
    static IncidentPresentation forFailure(const DictationFailure &failure, const QString &engine,
                                           const QString &pasteChord = QStringLiteral("Ctrl+V"));
    // A captured take that the application quit (or lost its display) before transcribing.
    static IncidentPresentation interrupted();

    friend bool operator==(const IncidentPresentation &, const IncidentPresentation &) = default;
};

// Classifies a transcription engine's error text; only the last, catch-all rule looks at `engine`.
IncidentPresentation transcriptionIncidentPresentation(const QString &errorMessage, const QString &engine);

} // namespace zq
