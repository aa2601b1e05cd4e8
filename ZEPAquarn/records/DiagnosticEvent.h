#pragma once

#include "runtime/RawValue.h"

#include <QMap>
#include <QString>

#include <array>
#include <optional>

namespace zq {

// The kinds of journal lines. The raw values (snake case) are what the journal and the run-state
// file hold; the order is the declaration order of the vocabulary and must not change.
enum class DiagnosticEvent {
    appLaunched,
    appTerminated,
    previousRunUnclean,
    systemCrashReportFound,
    mainThreadStallDetected,
    mainThreadRecovered,
    mainThreadStallFatal,
    hotkeyTapDisabled,
    dictationRequested,
    dictationLocked,
    dictationFinishRequested,
    dictationCancelled,
    audioStartBegan,
    audioStartCompleted,
    audioStartEndedBeforeLive,
    audioStartFailed,
    captureCompleted,
    captureTooShort,
    captureEmpty,
    transcriptionStarted,
    transcriptionCompleted,
    transcriptionFailed,
    pasteSucceeded,
    pasteFallback,
    dictationFailed,
    audioConfigurationChanged,
    audioRecoveryStarted,
    audioRecoveryCompleted,
    audioRecoveryFailed,
    // A store file held entries that could not be decoded: how many were left out (never what).
    storeEntriesDropped,
};

inline constexpr int diagnosticEventCount = 30;

// Small string-to-string facts of one line (snake-case keys). Never transcripts, keys or clipboard text.
using DiagnosticMetadata = QMap<QString, QString>;

const std::array<RawValueName<DiagnosticEvent>, diagnosticEventCount> &rawValueNames(DiagnosticEvent);

} // namespace zq
