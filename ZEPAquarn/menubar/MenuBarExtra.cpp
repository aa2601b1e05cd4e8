#include "menubar/MenuBarExtra.h"

#include <QAction>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>

namespace zq {

MenuBarExtra::MenuBarExtra(Commands commands, QObject *parent)
    : QObject(parent), m_commands(std::move(commands)), m_tray(new QSystemTrayIcon(this)),
      m_panel(new QWidget(nullptr, Qt::Popup)), m_checkForUpdates(nullptr)
{
    m_panel->setObjectName(QStringLiteral("menu-panel"));
    auto *layout = new QVBoxLayout(m_panel);
    layout->setContentsMargins(8, 8, 8, 8);
    m_checkForUpdates = new QPushButton(QStringLiteral("Check for Updates…"), m_panel);
    auto *settings = new QPushButton(QStringLiteral("Settings…"), m_panel);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    auto *quit = new QPushButton(QStringLiteral("Quit ZEPA QUARN"), m_panel);
    for (auto *button : {m_checkForUpdates, settings, quit}) {
        button->setFlat(true);
        layout->addWidget(button);
    }
    connect(m_checkForUpdates, &QPushButton::clicked, this, [this] {
        m_panel->hide();
        if (m_commands.checkForUpdates)
            m_commands.checkForUpdates();
    });
    connect(settings, &QPushButton::clicked, this, [this] {
        m_panel->hide();
        if (m_commands.openSettings)
            m_commands.openSettings();
    });
    connect(quit, &QPushButton::clicked, this, [this] {
        m_panel->hide();
        if (m_commands.quit)
            m_commands.quit();
    });

    // A right click gives the same commands as a plain menu.
    auto *menu = new QMenu;
    menu->setParent(m_panel, menu->windowFlags());
    QAction *checkAction = menu->addAction(QStringLiteral("Check for Updates…"));
    connect(checkAction, &QAction::triggered, this, [this] {
        if (m_commands.checkForUpdates)
            m_commands.checkForUpdates();
    });
    QAction *settingsAction = menu->addAction(QStringLiteral("Settings…"));
    settingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(settingsAction, &QAction::triggered, this, [this] {
        if (m_commands.openSettings)
            m_commands.openSettings();
    });
    menu->addSeparator();
    QAction *quitAction = menu->addAction(QStringLiteral("Quit ZEPA QUARN"));
    connect(quitAction, &QAction::triggered, this, [this] {
        if (m_commands.quit)
            m_commands.quit();
    });
    connect(menu, &QMenu::aboutToShow, this, [this, checkAction] {
        checkAction->setEnabled(!(m_commands.isCheckingForUpdates && m_commands.isCheckingForUpdates()));
    });
    m_tray->setContextMenu(menu);
    m_tray->setToolTip(QStringLiteral("ZEPA QUARN"));
    m_tray->setIcon(icon());
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            openPanel();
    });
}

MenuBarExtra::~MenuBarExtra()
{
    delete m_panel;
}

bool MenuBarExtra::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void MenuBarExtra::show()
{
    m_tray->show();
}

void MenuBarExtra::setTapRunning(bool running)
{
    if (m_tapRunning == running)
        return;
    m_tapRunning = running;
    m_tray->setIcon(icon());
}

QIcon MenuBarExtra::icon() const
{
    return ringIcon(m_tapRunning ? 1.0 : 0.55);
}

void MenuBarExtra::refreshPanel()
{
    m_checkForUpdates->setEnabled(!(m_commands.isCheckingForUpdates && m_commands.isCheckingForUpdates()));
}

void MenuBarExtra::openPanel()
{
    refreshPanel();
    m_panel->adjustSize();
    // Next to the icon when the tray says where it is, else near the top right of the screen.
    QRect anchor = m_tray->geometry();
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    if (!anchor.isValid())
        anchor = QRect(available.right() - 24, available.top(), 24, 24);
    QPoint position(anchor.center().x() - m_panel->width() / 2, anchor.bottom() + 4);
    if (position.y() + m_panel->height() > available.bottom())
        position.setY(anchor.top() - m_panel->height() - 4);
    position.setX(
        std::clamp(position.x(), available.left(), std::max(available.left(), available.right() - m_panel->width())));
    m_panel->move(position);
    m_panel->show();
}

QIcon MenuBarExtra::ringIcon(qreal opacity)
{
    QIcon result;
    for (int scale : {1, 2}) {
        QPixmap pixmap(18 * scale, 18 * scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(opacity);
        QPen pen(QColor(0x3d, 0xc9, 0xa6));
        pen.setWidthF(2.2 * scale);
        painter.setPen(pen);
        const qreal inset = 2.5 * scale;
        painter.drawEllipse(QRectF(inset, inset, 18 * scale - 2 * inset, 18 * scale - 2 * inset));
        painter.end();
        result.addPixmap(pixmap);
    }
    return result;
}

} // namespace zq
