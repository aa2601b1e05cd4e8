#include "menubar/MenuBarExtra.h"

#include "menubar/MenuPanelSurface.h"
#include "menubar/brand/Compositor.h"
#include "menubar/brand/ZepaSymbol.h"

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace zq {

namespace {

// The popup window: it closes on Escape; Qt closes a popup on a click outside it by itself. With a
// compositor it is translucent and holds the panel's shadow around it.
class MenuPopup : public QWidget {
public:
    MenuPopup() : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint)
    {
        setObjectName(QStringLiteral("menu-panel-popup"));
        setWindowTitle(QStringLiteral("ZEPA QUARN Menu"));
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
    }

    // Follows the compositor: translucency is a property of the native window, so a change makes
    // a new one at the next show.
    void setCompositing(bool compositing)
    {
        if (m_compositing == compositing)
            return;
        m_compositing = compositing;
        setAttribute(Qt::WA_TranslucentBackground, compositing);
        setAttribute(Qt::WA_NoSystemBackground, compositing);
        if (windowHandle())
            windowHandle()->destroy();
        layout()->setContentsMargins(MenuPanelSurface::shadowMargins(compositing));
    }
    bool isCompositing() const { return m_compositing; }

    // Gives back the native window, and the backing store it drew into, while hidden; the next show
    // makes both anew. (Destroying the QWindow alone keeps the backing store.)
    void giveBackWindow()
    {
        if (!isVisible() && testAttribute(Qt::WA_WState_Created))
            destroy();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!m_compositing || !layout()->count())
            return;
        QWidget *panel = layout()->itemAt(0)->widget();
        if (!panel)
            return;
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        MenuPanelSurface::paintShadow(painter, QRectF(panel->geometry()), colorSchemeOf(*panel));
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape) {
            hide();
            return;
        }
        QWidget::keyPressEvent(event);
    }
    void changeEvent(QEvent *event) override
    {
        // Focus went to another window.
        if (event->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow())
            hide();
        QWidget::changeEvent(event);
    }

private:
    bool m_compositing = false;
};

// The first control that Tab reaches in `window`.
QWidget *firstControl(QWidget &window)
{
    for (QWidget *widget = window.nextInFocusChain(); widget && widget != &window;
         widget = widget->nextInFocusChain()) {
        if (widget->window() == &window && (widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() &&
            widget->isVisibleTo(&window))
            return widget;
    }
    return nullptr;
}

} // namespace

MenuBarExtra::MenuBarExtra(Commands commands, QObject *parent)
    : QObject(parent), m_commands(std::move(commands)), m_tray(new QSystemTrayIcon(this))
{
    m_tray->setToolTip(QStringLiteral("ZEPA QUARN"));
    refreshIcon();
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            openPanel();
    });
}

// The popup and the context menu are the launch's first widgets and take a millisecond to make: they
// come after the icon, which needs neither to show.
QWidget *MenuBarExtra::popup()
{
    if (m_popup)
        return m_popup;
    m_popup = new MenuPopup;
    // A right click, or a tray host that only shows menus, reaches the same panel and commands.
    auto *menu = new QMenu;
    menu->setParent(m_popup, menu->windowFlags());
    QAction *openAction = menu->addAction(QStringLiteral("Open Menu…"));
    connect(openAction, &QAction::triggered, this, [this] { openPanel(); });
    menu->addSeparator();
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
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quitAction, &QAction::triggered, this, [this] {
        if (m_commands.quit)
            m_commands.quit();
    });
    connect(menu, &QMenu::aboutToShow, this, [this, checkAction] {
        checkAction->setEnabled(!(m_commands.isCheckingForUpdates && m_commands.isCheckingForUpdates()));
    });
    m_tray->setContextMenu(menu);
    return m_popup;
}

MenuBarExtra::~MenuBarExtra()
{
    delete m_popup;
}

bool MenuBarExtra::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void MenuBarExtra::show()
{
    m_tray->show();
    popup();
}

void MenuBarExtra::setPanel(QWidget *content, std::function<void()> onOpen)
{
    content->setParent(popup());
    m_popup->layout()->addWidget(content);
    m_onOpen = std::move(onOpen);
}

void MenuBarExtra::setTapRunning(bool running)
{
    if (m_tapRunning == running)
        return;
    m_tapRunning = running;
    refreshIcon();
}

void MenuBarExtra::setTriggerSeen(bool seen)
{
    if (m_triggerSeen == seen)
        return;
    m_triggerSeen = seen;
    // The tooltip says why the ring is dim, for whoever hovers it.
    m_tray->setToolTip(seen ? QStringLiteral("ZEPA QUARN") : QStringLiteral("ZEPA QUARN — no key starts dictation"));
    refreshIcon();
}

void MenuBarExtra::setFailing(bool failing)
{
    if (m_failing == failing)
        return;
    m_failing = failing;
    refreshIcon();
}

void MenuBarExtra::setColorScheme(ColorScheme scheme)
{
    if (m_scheme == scheme)
        return;
    m_scheme = scheme;
    refreshIcon();
}

QIcon MenuBarExtra::icon() const
{
    const QColor color = Palette::color(m_failing ? Palette::danger : Palette::textPrimary, m_scheme);
    return ringIcon(color, isDimmed() ? 0.55 : 1.0);
}

void MenuBarExtra::refreshIcon()
{
    m_tray->setIcon(icon());
}

QRect MenuBarExtra::popupGeometry(QSize size, QRect anchor, QPoint pointer, QRect screen)
{
    if (!anchor.isValid())
        anchor = QRect(pointer, QSize(1, 1));
    QPoint position(anchor.center().x() - size.width() / 2, anchor.bottom() + 5);
    // A tray at the bottom of the screen: open upwards.
    if (position.y() + size.height() > screen.bottom() + 1)
        position.setY(anchor.top() - size.height() - 4);
    // A margin from the screen's edges, so the panel never looks cut off by them.
    const QRect room = screen.adjusted(MenuPanelSurface::kScreenMargin, MenuPanelSurface::kScreenMargin,
                                       -MenuPanelSurface::kScreenMargin, -MenuPanelSurface::kScreenMargin);
    position.setX(std::clamp(position.x(), room.left(), std::max(room.left(), room.right() + 1 - size.width())));
    position.setY(std::clamp(position.y(), screen.top(), std::max(screen.top(), room.bottom() + 1 - size.height())));
    return QRect(position, size);
}

void MenuBarExtra::releaseHiddenPanel()
{
    if (m_popup)
        static_cast<MenuPopup *>(m_popup)->giveBackWindow();
}

void MenuBarExtra::openPanel()
{
    auto *popup = static_cast<MenuPopup *>(this->popup());
    popup->setCompositing(compositorRunning().value_or(false));
    if (m_onOpen)
        m_onOpen();
    m_popup->adjustSize();
    const QRect anchor = m_tray->geometry();
    const QPoint pointer = QCursor::pos();
    QScreen *screen = QGuiApplication::screenAt(anchor.isValid() ? anchor.center() : pointer);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    // The panel goes where it belongs; its shadow, if any, spreads around it.
    const QMargins shadow = MenuPanelSurface::shadowMargins(popup->isCompositing());
    const QRect panel = popupGeometry(m_popup->size().shrunkBy(shadow), anchor, pointer, available);
    m_popup->setGeometry(panel.marginsAdded(shadow));
    // Opened with the pointer: the panel takes the keyboard at its first control, as a pop-up does,
    // so keys work at once and a screen reader reads where the focus is, but shows no ring until a key
    // is pressed (a window that shows starts pointer-driven). Each opening starts at the first
    // control, not where the last one left off.
    if (QWidget *previous = m_popup->focusWidget())
        previous->clearFocus();
    m_popup->show();
    m_popup->raise();
    m_popup->activateWindow();
    if (QWidget *first = firstControl(*m_popup))
        first->setFocus(Qt::PopupFocusReason);
}

QIcon MenuBarExtra::ringIcon(const QColor &color, qreal opacity)
{
    QIcon result;
    for (int scale : {1, 2}) {
        QPixmap pixmap(18 * scale, 18 * scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(opacity);
        ZepaSymbol mark;
        mark.size = 16 * scale;
        mark.color = color;
        mark.paint(painter, QRectF(0, 0, 18 * scale, 18 * scale));
        painter.end();
        result.addPixmap(pixmap);
    }
    return result;
}

} // namespace zq
