#pragma once

#include "runtime/RawValue.h"

#include <QString>

#include <array>
#include <cstddef>

namespace zq {

class AppSettingsModel;
class SettingsPage;
struct SettingsPageHosts;

// The main window's pages, in the sidebar's order.
enum class AppWindowSection { stats, history, general, audio, transcription, dictionary, faq, support };

// The sections of each settings page, one file each (SettingsPagesGeneral.cpp, …).
using SettingsPageBuilder = void (*)(SettingsPage &, AppSettingsModel &, const SettingsPageHosts &);
void buildGeneralPage(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &hosts);
void buildAudioPage(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &hosts);
void buildTranscriptionPage(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &hosts);
void buildDictionaryPage(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &hosts);
void buildFAQPage(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &hosts);

// Everything that differs between the pages; a new page is one row of appWindowPages.
struct AppWindowPage {
    AppWindowSection section;
    const char *raw; // its name in settings and object names
    const char *title;
    const char *symbol;   // the sidebar's symbol image
    const char *subtitle; // UTF-8; empty for pages that draw their own heading
    // Fills a settings page's sections; null for stats, history and support, which other parts of
    // the application bring.
    SettingsPageBuilder build;
};

inline constexpr std::array<AppWindowPage, 8> appWindowPages{{
    {AppWindowSection::stats, "stats", "Stats", "square.grid.2x2", "", nullptr},
    {AppWindowSection::history, "history", "History", "clock.arrow.circlepath", "", nullptr},
    {AppWindowSection::general, "general", "General", "gearshape", "Appearance, shortcuts, and startup behavior.",
     &buildGeneralPage},
    {AppWindowSection::audio, "audio", "Audio", "waveform", "Choose and verify the microphone ZEPA QUARN listens to.",
     &buildAudioPage},
    {AppWindowSection::transcription, "transcription", "Transcription", "text.bubble",
     "Control the engine, language, and transcript cleanup.", &buildTranscriptionPage},
    {AppWindowSection::dictionary, "dictionary", "Dictionary", "character.book.closed",
     "Teach ZEPA QUARN the names and terminology you use.", &buildDictionaryPage},
    {AppWindowSection::faq, "faq", "FAQ", "questionmark.circle", "The questions everyone asks, answered honestly.",
     &buildFAQPage},
    {AppWindowSection::support, "support", "Support", "lifepreserver", "Updates and privacy-safe local diagnostics.",
     nullptr},
}};

inline constexpr std::array<AppWindowSection, appWindowPages.size()> allAppWindowSections = [] {
    std::array<AppWindowSection, appWindowPages.size()> sections{};
    for (std::size_t i = 0; i < sections.size(); ++i)
        sections[i] = appWindowPages[i].section;
    return sections;
}();

constexpr std::array<RawValueName<AppWindowSection>, appWindowPages.size()> rawValueNames(AppWindowSection)
{
    std::array<RawValueName<AppWindowSection>, appWindowPages.size()> names{};
    for (std::size_t i = 0; i < names.size(); ++i)
        names[i] = {appWindowPages[i].section, appWindowPages[i].raw};
    return names;
}

// The section's row of appWindowPages.
const AppWindowPage &appWindowPage(AppWindowSection section);
QString title(AppWindowSection section);
// The name of the section's symbol image.
QString symbolName(AppWindowSection section);
// The one-line subtitle under a page's title; empty for stats and history.
QString pageSubtitle(AppWindowSection section);

} // namespace zq
