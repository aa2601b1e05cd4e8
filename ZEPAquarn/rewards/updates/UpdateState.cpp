#include "rewards/updates/UpdateState.h"

#include "platform/UpdateFramework.h"

namespace zq {

bool operator==(const AppUpdateState &a, const AppUpdateState &b)
{
    if (a.kind != b.kind)
        return false;
    switch (a.kind) {
    case AppUpdateState::Kind::available:
        return a.version == b.version;
    case AppUpdateState::Kind::upToDate:
        return a.checkedAt == b.checkedAt;
    default:
        return true;
    }
}

QString AppUpdateState::statusText(bool automaticChecks, const QDateTime &now, const QString &host) const
{
    switch (kind) {
    case Kind::available:
        return QStringLiteral("Version ") + version + QStringLiteral(" is ready to install.");
    case Kind::upToDate:
        return QStringLiteral("Up to date \u00B7 checked ") + relativeTimeText(checkedAt, now) + QLatin1Char('.');
    case Kind::idle:
        return automaticChecks ? QStringLiteral("Checks automatically once a day.")
                               : QStringLiteral("Automatic checks are off.");
    case Kind::checking:
        return QStringLiteral("Checking ") + host + QStringLiteral("\u2026");
    case Kind::failed:
        return QStringLiteral("Couldn't check for updates. Try again.");
    }
    return {};
}

QString relativeTimeText(const QDateTime &date, const QDateTime &now)
{
    // Whole seconds, truncated toward zero: 59.9 s is still "just now".
    const qint64 s = (now.toMSecsSinceEpoch() - date.toMSecsSinceEpoch()) / 1000;
    if (s < 60)
        return QStringLiteral("just now");
    if (s < 120)
        return QStringLiteral("1 minute ago");
    if (s < 3600)
        return QString::number(s / 60) + QStringLiteral(" minutes ago");
    if (s < 7200)
        return QStringLiteral("1 hour ago");
    if (s < 86400)
        return QString::number(s / 3600) + QStringLiteral(" hours ago");
    if (s < 172800)
        return QStringLiteral("1 day ago");
    return QString::number(s / 86400) + QStringLiteral(" days ago");
}

QString updateServiceHost()
{
    return platform::UpdateFeedConfiguration::forApplication().feedUrl.host();
}

} // namespace zq
