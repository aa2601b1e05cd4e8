#pragma once

#include "support/ChildProcess.h"

#include <QImage>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>

namespace zq::test {

// What a user does on a test display, done with xdotool and friends: find windows, click the
// application's tray icon to open its panel, type keys, take a screenshot. Keyboard-map helpers
// work on the display's own mapping.
class DesktopDriver {
public:
    explicit DesktopDriver(QString display);

    ToolResult xdotool(const QStringList &arguments) const;
    // Window ids of `xdotool search` with these arguments.
    QStringList windows(const QStringList &search) const;
    QRect geometry(const QString &window) const;
    // Types key names ("Tab", "space", "Return") 60 ms apart; false when xdotool failed.
    bool keys(const QStringList &names) const;
    // Moves the pointer to `at` (root coordinates) and clicks the left button there.
    bool click(const QPoint &at) const;

    // The application's small window inside the tray host, once the host has placed it (invalid when
    // it never settles). Just made or just docked, the icon sits in a corner for a moment, and a click
    // there is lost.
    QRect trayIcon() const;
    // The visible menu panel popup.
    QStringList visiblePanel() const;
    // Clicks the ring and waits for the panel; its geometry (invalid when it did not open).
    QRect openPanel() const;

    // The whole screen as the user sees it; null when the grab failed.
    QImage screenshot() const;

    // Takes the Fn key away from every key code that gives it; false when the display cannot be reached.
    bool removeFnKeys() const;
    // Whether some key code gives the Fn key.
    bool hasFnKey() const;

private:
    QProcessEnvironment environment() const;

    QString m_display;
};

} // namespace zq::test
