#pragma once

#include <QString>

namespace zq {

// What the application needs of the desktop session before its GUI starts: an X11 display (also
// XWayland), because the global trigger keys, the synthetic paste and the pill all need X11.
// The toolkit aborts when it cannot open its display, so main() checks first and, without one,
// tells the user and exits instead.
namespace X11Session {

// Opens and closes the display that DISPLAY names; false when it is unset or cannot be opened.
bool displayIsUsable();
// Makes the toolkit use X11 even when a Wayland display is present as well.
void preferX11();

// The sentence for stderr when there is no usable display.
QString unavailableMessage();
// Tells the user through the desktop's notification service on the session bus, waiting at most
// a few seconds for it to answer. Needs a QCoreApplication. False when nobody took the notice.
bool notifyUnavailable();

inline const QString notificationTitle = QStringLiteral("ZEPA QUARN needs X11");
inline const QString notificationBody =
    QStringLiteral("The trigger key, paste and the pill need an X11 session (or XWayland). "
                   "Log in to an X11 session to dictate.");

} // namespace X11Session

} // namespace zq
