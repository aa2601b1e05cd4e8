#include "support/FakeUpdateFramework.h"

namespace zq::test {

bool FakeUpdateFramework::checkForUpdates()
{
    if (!m_delegate || !acceptsChecks)
        return false;
    ++m_checks;
    return true;
}

void FakeUpdateFramework::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (automaticChecks == enabled)
        return;
    automaticChecks = enabled;
    emit automaticallyChecksForUpdatesChanged(enabled);
}

void FakeUpdateFramework::setAutomaticallyDownloadsUpdates(bool enabled)
{
    if (automaticDownloads == enabled)
        return;
    automaticDownloads = enabled;
    emit automaticallyDownloadsUpdatesChanged(enabled);
}

platform::AppcastItem FakeUpdateFramework::item(const QString &displayVersion, const QString &build)
{
    platform::AppcastItem item;
    item.title = QStringLiteral("ZEPA QUARN ") + displayVersion;
    item.displayVersionString = displayVersion;
    item.versionString = build;
    return item;
}

} // namespace zq::test
