#pragma once

#include <QDateTime>
#include <QString>

namespace zq {

// Where the update machinery stands, as the tray panel and the settings show it.
// The host of the application's update feed.
QString updateServiceHost();

struct AppUpdateState {
    enum class Kind { available, upToDate, idle, checking, failed };

    Kind kind = Kind::idle;
    QString version;     // with available: the display version, as the feed gave it
    QDateTime checkedAt; // with upToDate

    static AppUpdateState available(QString version) { return {Kind::available, std::move(version), {}}; }
    static AppUpdateState upToDate(QDateTime checkedAt) { return {Kind::upToDate, {}, std::move(checkedAt)}; }
    static AppUpdateState idle() { return {}; }
    static AppUpdateState checking() { return {Kind::checking, {}, {}}; }
    static AppUpdateState failed() { return {Kind::failed, {}, {}}; }

    // The one-line status. `automaticChecks` matters only while idle; `host` names the update
    // service while checking.
    QString statusText(bool automaticChecks, const QDateTime &now, const QString &host = updateServiceHost()) const;

    // Payloads count only for the case that carries them.
    friend bool operator==(const AppUpdateState &a, const AppUpdateState &b);
};

// "just now", "1 minute ago", "5 hours ago", "30 days ago": how long before `now` `date` was.
QString relativeTimeText(const QDateTime &date, const QDateTime &now);

} // namespace zq
