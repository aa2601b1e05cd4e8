#include "records/DiagnosticEvent.h"

#include <array>

namespace zq {

namespace {

constexpr std::array<RawValueName<DiagnosticEvent>, diagnosticEventCount> kRawValueNames{{
    {DiagnosticEvent::appLaunched, "app_launched"},
    {DiagnosticEvent::appTerminated, "app_terminated"},
    {DiagnosticEvent::previousRunUnclean, "previous_run_unclean"},
    {DiagnosticEvent::systemCrashReportFound, "system_crash_report_found"},
    {DiagnosticEvent::mainThreadStallDetected, "main_thread_stall_detected"},
    {DiagnosticEvent::mainThreadRecovered, "main_thread_recovered"},
    {DiagnosticEvent::mainThreadStallFatal, "main_thread_stall_fatal"},
    {DiagnosticEvent::hotkeyTapDisabled, "hotkey_tap_disabled"},
    {DiagnosticEvent::dictationRequested, "dictation_requested"},
    {DiagnosticEvent::dictationLocked, "dictation_locked"},
    {DiagnosticEvent::dictationFinishRequested, "dictation_finish_requested"},
    {DiagnosticEvent::dictationCancelled, "dictation_cancelled"},
    {DiagnosticEvent::audioStartBegan, "audio_start_began"},
    {DiagnosticEvent::audioStartCompleted, "audio_start_completed"},
    {DiagnosticEvent::audioStartEndedBeforeLive, "audio_start_ended_before_live"},
    {DiagnosticEvent::audioStartFailed, "audio_start_failed"},
    {DiagnosticEvent::captureCompleted, "capture_completed"},
    {DiagnosticEvent::captureTooShort, "capture_too_short"},
    {DiagnosticEvent::captureEmpty, "capture_empty"},
    {DiagnosticEvent::transcriptionStarted, "transcription_started"},
    {DiagnosticEvent::transcriptionCompleted, "transcription_completed"},
    {DiagnosticEvent::transcriptionFailed, "transcription_failed"},
    {DiagnosticEvent::pasteSucceeded, "paste_succeeded"},
    {DiagnosticEvent::pasteFallback, "paste_fallback"},
    {DiagnosticEvent::dictationFailed, "dictation_failed"},
    {DiagnosticEvent::audioConfigurationChanged, "audio_configuration_changed"},
    {DiagnosticEvent::audioRecoveryStarted, "audio_recovery_started"},
    {DiagnosticEvent::audioRecoveryCompleted, "audio_recovery_completed"},
    {DiagnosticEvent::audioRecoveryFailed, "audio_recovery_failed"},
    {DiagnosticEvent::storeEntriesDropped, "store_entries_dropped"},
}};

} // namespace

const std::array<RawValueName<DiagnosticEvent>, diagnosticEventCount> &rawValueNames(DiagnosticEvent)
{
    return kRawValueNames;
}

} // namespace zq
