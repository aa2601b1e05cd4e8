#include "window/AppWindowSection.h"

namespace zq {

namespace {

struct SectionInfo {
    const char *raw;
    const char *title;
    const char *symbol;
};

SectionInfo info(AppWindowSection section)
{
    switch (section) {
    case AppWindowSection::stats:
        return {"stats", "Stats", "square.grid.2x2"};
    case AppWindowSection::history:
        return {"history", "History", "clock.arrow.circlepath"};
    case AppWindowSection::general:
        return {"general", "General", "gearshape"};
    case AppWindowSection::audio:
        return {"audio", "Audio", "waveform"};
    case AppWindowSection::transcription:
        return {"transcription", "Transcription", "text.bubble"};
    case AppWindowSection::dictionary:
        return {"dictionary", "Dictionary", "character.book.closed"};
    case AppWindowSection::faq:
        return {"faq", "FAQ", "questionmark.circle"};
    case AppWindowSection::support:
        return {"support", "Support", "lifepreserver"};
    }
    return {"stats", "Stats", "square.grid.2x2"};
}

} // namespace

QString rawValue(AppWindowSection section)
{
    return QString::fromLatin1(info(section).raw);
}

std::optional<AppWindowSection> appWindowSection(const QString &raw)
{
    for (auto section : allAppWindowSections) {
        if (rawValue(section) == raw)
            return section;
    }
    return std::nullopt;
}

QString title(AppWindowSection section)
{
    return QString::fromLatin1(info(section).title);
}

QString symbolName(AppWindowSection section)
{
    return QString::fromLatin1(info(section).symbol);
}

} // namespace zq
