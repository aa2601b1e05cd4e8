#pragma once

#include <QIcon>
#include <QObject>

#include <functional>

class QPushButton;
class QSystemTrayIcon;
class QWidget;

namespace zq {

// The application's place in the desktop's tray: an icon that opens the menu panel next to it.
// The panel offers the application's commands; the icon is dimmed while the global trigger is not
// running.
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

    void setTapRunning(bool running);
    bool isDimmed() const { return !m_tapRunning; }
    QIcon icon() const;

    // Opens the panel (what a click on the icon does).
    void openPanel();
    QWidget *panel() const { return m_panel; }

    // The ring the tray shows, drawn at 18 by 18 points; `opacity` dims it.
    static QIcon ringIcon(qreal opacity);

private:
    void refreshPanel();

    Commands m_commands;
    QSystemTrayIcon *m_tray;
    QWidget *m_panel;
    QPushButton *m_checkForUpdates;
    bool m_tapRunning = true;
};

} // namespace zq
