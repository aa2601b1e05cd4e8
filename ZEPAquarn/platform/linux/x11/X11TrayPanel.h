#pragma once

#include "platform/TrayPanel.h"

#include <QByteArray>

#include <chrono>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace zq::platform {

class X11Connection;

// The XEmbed system tray of the X screen, on a connection of its own: the tray manager is the owner
// of the selection _NET_SYSTEM_TRAY_S<screen>, and its window may carry _NET_SYSTEM_TRAY_COLORS.
// Follows the property, a new manager taking the selection, and the icon window last asked about
// coming on screen or moving (with two more reads shortly after, for a tray that paints its panel
// late), from the main loop. The panel is read from the screen itself, so what counts is what is
// shown there (a tinted or translucent panel included). Until started, and without a display, it
// knows nothing and never changes.
class X11TrayPanel : public TrayPanel {
    Q_OBJECT
public:
    // Connects nowhere until start().
    explicit X11TrayPanel(QByteArray displayName, QObject *parent = nullptr);
    ~X11TrayPanel() override;

    // Opens the connection and reads the tray, and says `changed` when a tray runs. After the
    // QGuiApplication (see X11Connection); a second call does nothing.
    void start() override;

    std::optional<Colors> colors() const override { return m_colors; }
    std::optional<std::uint32_t> panelColorBehind(WId iconWindow) const override;

private:
    // Finds the manager and its colours again; true when either changed.
    bool findManager();
    void readEvents();

    static constexpr std::chrono::milliseconds kFirstSettleRead{300};
    static constexpr std::chrono::milliseconds kLastSettleRead{1500};

    const QByteArray m_displayName;
    // Reads the panel again after the icon came on screen or moved, for a tray that paints late.
    QTimer *m_settle;
    bool m_started = false;
    std::unique_ptr<X11Connection> m_connection;
    QSocketNotifier *m_notifier = nullptr;
    unsigned long m_selection = 0;
    unsigned long m_colorsAtom = 0;
    unsigned long m_managerAtom = 0;
    unsigned long m_manager = 0;
    std::optional<Colors> m_colors;
    // The icon window last asked about, whose coming on screen and moves are followed.
    mutable WId m_iconWindow = 0;
};

} // namespace zq::platform
