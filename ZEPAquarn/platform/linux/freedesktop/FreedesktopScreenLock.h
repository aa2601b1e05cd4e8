#pragma once

#include "platform/ScreenLock.h"

#include <QDBusConnection>
#include <QObject>

#include <chrono>
#include <optional>

class QDBusServiceWatcher;

namespace zq::platform {

// The session's screen locker on the session bus (org.freedesktop.ScreenSaver). X11 has no protected
// input mode (XTest can type into any window); a locked screen is what comes closest. The first answer
// is asked for (GetActive); from then on the locker's ActiveChanged signals keep it, so a paste does not
// wait on a locker that may be busy drawing the desktop. The locker's name is followed too: a locker
// that goes leaves the screen unlocked, and one that takes its place is asked again. Without a session
// bus or a screen-saver service the answer is false.
class FreedesktopScreenLock final : public QObject, public ScreenLock {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds callTimeout{500};

    explicit FreedesktopScreenLock(QDBusConnection bus = QDBusConnection::sessionBus()) : m_bus(std::move(bus)) {}

    bool isLocked() override;

private slots:
    void onActiveChanged(bool active) { m_locked = active; }
    void onLockerChanged(const QString &name, const QString &oldOwner, const QString &newOwner);

private:
    bool watch();

    QDBusConnection m_bus;
    QDBusServiceWatcher *m_lockerWatch = nullptr;
    bool m_watching = false;
    std::optional<bool> m_locked; // once asked, while the locker's signals are heard
    bool m_reportedFailure = false;
};

} // namespace zq::platform
