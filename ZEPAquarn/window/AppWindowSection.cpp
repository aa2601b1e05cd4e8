#include "window/AppWindowSection.h"

namespace zq {

// The table is in enum order, which the check below keeps, so a section is its own index.
static_assert([] {
    for (std::size_t i = 0; i < appWindowPages.size(); ++i) {
        if (appWindowPages[i].section != AppWindowSection(i))
            return false;
    }
    return true;
}());

const AppWindowPage &appWindowPage(AppWindowSection section)
{
    return appWindowPages[std::size_t(section)];
}

QString title(AppWindowSection section)
{
    return QString::fromLatin1(appWindowPage(section).title);
}

QString symbolName(AppWindowSection section)
{
    return QString::fromLatin1(appWindowPage(section).symbol);
}

QString pageSubtitle(AppWindowSection section)
{
    return QString::fromUtf8(appWindowPage(section).subtitle);
}

} // namespace zq
