#pragma once

#include "runtime/RawValue.h"

#include <QString>

#include <array>
#include <optional>

namespace zq {

// The main window's pages, in the sidebar's order.
enum class AppWindowSection { stats, history, general, audio, transcription, dictionary, faq, support };

inline constexpr std::array<AppWindowSection, 8> allAppWindowSections{
    AppWindowSection::stats, AppWindowSection::history,       AppWindowSection::general,
    AppWindowSection::audio, AppWindowSection::transcription, AppWindowSection::dictionary,
    AppWindowSection::faq,   AppWindowSection::support};

constexpr std::array<RawValueName<AppWindowSection>, 8> rawValueNames(AppWindowSection)
{
    return {{{AppWindowSection::stats, "stats"},
             {AppWindowSection::history, "history"},
             {AppWindowSection::general, "general"},
             {AppWindowSection::audio, "audio"},
             {AppWindowSection::transcription, "transcription"},
             {AppWindowSection::dictionary, "dictionary"},
             {AppWindowSection::faq, "faq"},
             {AppWindowSection::support, "support"}}};
}
QString title(AppWindowSection section);
// The name of the section's symbol image.
QString symbolName(AppWindowSection section);

} // namespace zq
