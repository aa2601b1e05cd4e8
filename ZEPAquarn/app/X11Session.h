#pragma once

#include <QString>

#include <chrono>
#include <functional>

namespace zq {

namespace rt {
class Settings;
} // namespace rt

// What the application needs of the desktop session before its GUI starts: an X11 display (also
// XWayland), because the global trigger keys, the synthetic paste and the pill all need X11.
// The toolkit aborts when it cannot open its display, so main() checks first and, without one,
// tells the user and exits instead. The display itself is checked by platform/linux/x11's
// DisplayHold; what is here is what the application does around it.
namespace X11Session {

// While one lives, a toolkit that cannot start (it could not connect to the display after all)
// ends the process with unavailableMessage() on stderr and status 1, instead of aborting with
// the toolkit's own advice. Messages that are not fatal pass on to the handler before it.
// Make one just before the QApplication and drop it once the QApplication exists.
class ToolkitStartGuard {
public:
    ToolkitStartGuard();
    ~ToolkitStartGuard();
    ToolkitStartGuard(const ToolkitStartGuard &) = delete;
    ToolkitStartGuard &operator=(const ToolkitStartGuard &) = delete;
};

// The toolkit ends the process with exit() when its display connection breaks (the X server died
// or the session ended), straight from its event loop and just after a warning. exit() tears down
// the process's static objects while the application's threads still use them, so nothing the
// application holds may be touched from there. The warning is the last safe moment: while one
// lives, a warning on the thread that made it, at a moment `displayGone` says the toolkit's
// connection has ended, runs `action` once and then ends the process with status 1, without the
// teardown. `action` writes whatever that teardown would have. Drop it before the application's
// normal teardown. At most one may exist at a time.
class DisplayLossHandler {
public:
    DisplayLossHandler(std::function<bool()> displayGone, std::function<void()> action);
    ~DisplayLossHandler();
    DisplayLossHandler(const DisplayLossHandler &) = delete;
    DisplayLossHandler &operator=(const DisplayLossHandler &) = delete;
};

// The application's DisplayLossHandler action, in this order: `keepInFlight` keeps the take in flight
// and ends what a quit ends; then the settings are written, `waitForStores` waits for the History and
// statistics writes, and the journal's are waited for, as the process then ends without the teardown
// that would have waited for them. All of it within `wait`: past it the process ends with status 1,
// with every file whole (each is replaced at once or not at all) and a take that was not yet kept
// still in the take folder for the next start.
void settleForDisplayLoss(const std::function<void()> &keepInFlight, rt::Settings &settings,
                          const std::function<void()> &waitForStores, std::chrono::milliseconds wait);

// The sentence for stderr when there is no usable display.
QString unavailableMessage();
// Tells the user through the desktop's notification service on the session bus, waiting at most
// a few seconds for it to answer (not bounding the connection itself). Works on any thread, also
// before the QApplication exists. False when nobody took the notice.
bool notifyUnavailable();
// The same with another notice: for a start that ends before the application's own notices exist.
bool notify(const QString &title, const QString &body);

inline const QString notificationTitle = QStringLiteral("ZEPA QUARN needs X11");
inline const QString notificationBody =
    QStringLiteral("The trigger key, paste and the pill need an X11 session (or XWayland). "
                   "Log in to an X11 session to dictate.");

} // namespace X11Session

} // namespace zq
