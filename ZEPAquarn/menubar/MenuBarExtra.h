#pragma once

#include "menubar/brand/Palette.h"

#include <QIcon>
#include <QObject>
#include <QRect>

#include <functional>
#include <optional>

class QSystemTrayIcon;
class QWidget;

namespace zq {

namespace platform {
class TrayPanel;
} // namespace platform

// What is known of where the ring is drawn, each none when unknown: the colours the tray states for
// its icons, and the panel's colour behind the icon.
struct TrayBackdrop {
    std::optional<QColor> foreground;
    std::optional<QColor> error;
    std::optional<QColor> panel;
};

// How the ring is drawn in one state: its colour, its opacity, and an outline under it.
struct RingInk {
    QColor color;
    qreal opacity = 1.0;
    // Filled under the ring at full opacity, so that the ring reads on a panel of unknown colour.
    std::optional<QColor> edge;
    bool operator==(const RingInk &) const = default;
};

// The application's place in the desktop's tray: the ring mark, which opens the menu panel as a
// popup next to it. The ring is drawn in the tray's colours (see ringInk), dimmed while the global
// trigger is not running or no trigger in force can be seen, and red while dictation is in its
// failure state. A right click (or a tray host that only shows menus) offers the same panel through
// the menu's first entry.
class MenuBarExtra : public QObject {
    Q_OBJECT
public:
    struct Commands {
        std::function<void()> checkForUpdates;
        std::function<bool()> isCheckingForUpdates;
        std::function<void()> openSettings;
        std::function<void()> quit;
    };

    // `trayPanel` (may be null: nothing known of the tray) tells the colours the ring is drawn for.
    explicit MenuBarExtra(Commands commands, platform::TrayPanel *trayPanel = nullptr, QObject *parent = nullptr);
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
    // The ring's ink for a state, each state at least 3:1 against the panel. The foreground the
    // tray states is taken as it is, its error colour as far as it reads; otherwise, on a known panel, the
    // ring is the text colour that reads best on it and the red is made lighter or darker until it
    // reads. Dimming starts at 0.55 and rises until the ring still reads. On a panel of unknown colour
    // (a host that shows no window, or before the icon is placed) the ring in `scheme`'s text colour
    // gets an edge of the opposite one, which reads on any panel, and its states are kept against that.
    static RingInk ringInk(const TrayBackdrop &backdrop, ColorScheme scheme, bool dimmed, bool failing);
    // The ring at 18 by 18 points in `ink`.
    static QIcon ringIcon(const RingInk &ink);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TrayBackdrop backdrop() const;
    void refreshIcon();
    QWidget *popup();

    Commands m_commands;
    platform::TrayPanel *m_trayPanel;
    QSystemTrayIcon *m_tray;
    // What the tray shows now, so that a repaint that changes nothing sets no new icon.
    std::optional<RingInk> m_shownInk;
    // Made on first use (see popup()).
    QWidget *m_popup = nullptr;
    std::function<void()> m_onOpen;
    bool m_tapRunning = true;
    bool m_triggerSeen = true;
    bool m_failing = false;
    ColorScheme m_scheme = ColorScheme::light;
};

} // namespace zq
