#include "records/DiagnosticEvent.h"

#include <array>

namespace zq {

namespace {

constexpr std::array<const char *, diagnosticEventCount> rawValues = {
    "app_launched",
    "app_terminated",
    "previous_run_unclean",
    "system_crash_report_found",
    "main_thread_stall_detected",
    "main_thread_recovered",
    "main_thread_stall_fatal",
    "hotkey_tap_disabled",
    "dictation_requested",
    "dictation_locked",
    "dictation_finish_requested",
    "dictation_cancelled",
    "audio_start_began",
    "audio_start_completed",
    "audio_start_ended_before_live",
    "audio_start_failed",
    "capture_completed",
    "capture_too_short",
    "capture_empty",
    "transcription_started",
    "transcription_completed",
    "transcription_failed",
    "paste_succeeded",
    "paste_fallback",
    "dictation_failed",
    "audio_configuration_changed",
    "audio_recovery_started",
    "audio_recovery_completed",
    "audio_recovery_failed",
    "store_entries_dropped",
};

} // namespace

QString rawValue(DiagnosticEvent event)
{
    const auto index = static_cast<std::size_t>(event);
    return index < rawValues.size() ? QString::fromLatin1(rawValues[index]) : QString();
}

std::optional<DiagnosticEvent> diagnosticEventFromRawValue(const QString &raw)
{
    for (std::size_t i = 0; i < rawValues.size(); ++i) {
        if (raw == QLatin1String(rawValues[i]))
            return static_cast<DiagnosticEvent>(i);
    }
    return std::nullopt;
}

} // namespace zq
