#pragma once

#include "platform/TrayPanel.h"
#include "runtime/Executor.h"

#include <QByteArray>

#include <array>
#include <chrono>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace zq::platform {

class X11Connection;

// The XEmbed system tray of the X screen, on a connection of its own: the tray manager is the owner
// of the selection _NET_SYSTEM_TRAY_S<screen>, and its window may carry _NET_SYSTEM_TRAY_COLORS.
// Follows the property, a new manager taking the selection, and the icon window last asked about
// coming on screen, moving or being reparented (or the tray moving a window that holds it), from the
// main loop; after each of those, and after the first read of a new icon window, it says `changed`
// twice more shortly after, for a tray that paints its panel late. The panel is read from the screen
// itself, so what counts is what is shown there (a tinted or translucent panel included). Until
// started, and without a display, it knows nothing and never changes.
class X11TrayPanel : public TrayPanel {
    Q_OBJECT
public:
    // Connects nowhere until start(). The later reads are timed on `loop`.
    X11TrayPanel(QByteArray displayName, rt::MainLoop &loop, QObject *parent = nullptr);
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
    // Follows `iconWindow` and the windows that hold it, up to the root: a move of any of them moves
    // the icon on the screen.
    void follow(WId iconWindow) const;
    // Says `changed` again 0.3 s and 1.5 s from now (the reads of an earlier call are dropped).
    void readAgainLater();

    static constexpr std::chrono::milliseconds kFirstSettleRead{300};
    static constexpr std::chrono::milliseconds kLastSettleRead{1500};

    const QByteArray m_displayName;
    rt::MainLoop &m_loop;
    // The later reads after the icon came on screen or moved, for a tray that paints late.
    std::array<rt::WorkItem, 2> m_settleReads;
    bool m_started = false;
    std::unique_ptr<X11Connection> m_connection;
    QSocketNotifier *m_notifier = nullptr;
    unsigned long m_selection = 0;
    unsigned long m_colorsAtom = 0;
    unsigned long m_managerAtom = 0;
    unsigned long m_manager = 0;
    std::optional<Colors> m_colors;
    // The icon window last asked about, whose coming on screen and moves are followed, and the
    // windows followed for it: itself first, then those that hold it.
    mutable WId m_iconWindow = 0;
    mutable std::vector<unsigned long> m_followed;
};

} // namespace zq::platform
