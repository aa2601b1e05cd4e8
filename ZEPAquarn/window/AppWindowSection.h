#pragma once

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

QString rawValue(AppWindowSection section);
std::optional<AppWindowSection> appWindowSection(const QString &raw);
QString title(AppWindowSection section);
// The name of the section's symbol image.
QString symbolName(AppWindowSection section);

} // namespace zq
