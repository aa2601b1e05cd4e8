#pragma once

#include "menubar/brand/Palette.h"

#include <QIcon>
#include <QObject>
#include <QRect>

#include <functional>

class QSystemTrayIcon;
class QWidget;

namespace zq {

// The application's place in the desktop's tray: the ring mark, which opens the menu panel as a
// popup next to it. The ring is drawn in the panel's text colour, dimmed while the global trigger is
// not running or no trigger in force can be seen, and in the danger colour while dictation is in its
// failure state. A right click (or a
// tray host that only shows menus) offers the same panel through the menu's first entry.
class MenuBarExtra : public QObject {
    Q_OBJECT
public:
    struct Commands {
        std::function<void()> checkForUpdates;
        std::function<bool()> isCheckingForUpdates;
        std::function<void()> openSettings;
        std::function<void()> quit;
    };

    explicit MenuBarExtra(Commands commands, QObject *parent = nullptr);
    ~MenuBarExtra() override;

    // False when the session has no tray host; the caller then keeps the main window reachable.
    bool isAvailable() const;
    void show();

    // The panel the popup shows; `onOpen` runs each time before it comes on screen.
    void setPanel(QWidget *content, std::function<void()> onOpen);

    void setTapRunning(bool running);
    // Whether some trigger in force reaches the desktop (false: Fn alone on a keyboard without Fn).
    void setTriggerSeen(bool seen);
    void setFailing(bool failing);
    void setColorScheme(ColorScheme scheme);
    bool isDimmed() const { return !m_tapRunning || !m_triggerSeen; }
    bool isFailing() const { return m_failing; }
    QIcon icon() const;

    // Opens the panel (what a click on the icon does) with the keyboard at its first control.
    void openPanel();
    QWidget *panel() { return popup(); }
    // While the panel is hidden, lets go of its window and what it drew; the next open builds them
    // anew in the same place. Nothing while it is shown.
    void releaseHiddenPanel();
    QSystemTrayIcon *trayIcon() const { return m_tray; }

    // Where a popup of `size` opens for an icon at `anchor` (invalid: none reported) or, failing
    // that, the pointer at `pointer`: below the icon when it fits, else above, always inside `screen`.
    static QRect popupGeometry(QSize size, QRect anchor, QPoint pointer, QRect screen);
    // The ring at 18 by 18 points in `color`; `opacity` dims it.
    static QIcon ringIcon(const QColor &color, qreal opacity);

private:
    void refreshIcon();
    QWidget *popup();

    Commands m_commands;
    QSystemTrayIcon *m_tray;
    // Made on first use (see popup()).
    QWidget *m_popup = nullptr;
    std::function<void()> m_onOpen;
    bool m_tapRunning = true;
    bool m_triggerSeen = true;
    bool m_failing = false;
    ColorScheme m_scheme = ColorScheme::light;
};

} // namespace zq
