#include "window/AppWindowSection.h"

namespace zq {

namespace {

struct SectionInfo {
    const char *title;
    const char *symbol;
};

SectionInfo info(AppWindowSection section)
{
    switch (section) {
    case AppWindowSection::stats:
        return {"Stats", "square.grid.2x2"};
    case AppWindowSection::history:
        return {"History", "clock.arrow.circlepath"};
    case AppWindowSection::general:
        return {"General", "gearshape"};
    case AppWindowSection::audio:
        return {"Audio", "waveform"};
    case AppWindowSection::transcription:
        return {"Transcription", "text.bubble"};
    case AppWindowSection::dictionary:
        return {"Dictionary", "character.book.closed"};
    case AppWindowSection::faq:
        return {"FAQ", "questionmark.circle"};
    case AppWindowSection::support:
        return {"Support", "lifepreserver"};
    }
    return {"Stats", "square.grid.2x2"};
}

} // namespace

QString title(AppWindowSection section)
{
    return QString::fromLatin1(info(section).title);
}

QString symbolName(AppWindowSection section)
{
    return QString::fromLatin1(info(section).symbol);
}

} // namespace zq
