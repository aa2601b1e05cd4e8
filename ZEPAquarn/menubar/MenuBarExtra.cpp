#include "menubar/MenuBarExtra.h"

#include "menubar/MenuPanelSurface.h"
#include "menubar/brand/Compositor.h"
#include "menubar/brand/ZepaSymbol.h"
#include "platform/TrayPanel.h"

#include <QAction>
#include <QApplication>
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
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

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

// Over 3:1 by a margin: at 18 pixels no pixel of the ring is wholly covered, and the landed pixels
// are rounded to 8 bits.
constexpr double kLegible = 3.5;
constexpr qreal kDimmed = 0.55;

double luminance(const QColor &color)
{
    const auto linear = [](double value) {
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// `ink` at `opacity` as it lands on `panel`.
bool reads(const QColor &ink, qreal opacity, const QColor &panel)
{
    const auto mix = [&](float a, float b) { return float(a * opacity + b * (1 - opacity)); };
    const QColor landed = QColor::fromRgbF(mix(ink.redF(), panel.redF()), mix(ink.greenF(), panel.greenF()),
                                           mix(ink.blueF(), panel.blueF()));
    return contrast(landed, panel) >= kLegible;
}

// The least opacity from 0.55 up at which `ink` still reads on `panel`.
qreal dimmedOpacity(const QColor &ink, const QColor &panel)
{
    for (int step = 0; step < 9; ++step) {
        const qreal opacity = kDimmed + 0.05 * step;
        if (reads(ink, opacity, panel))
            return opacity;
    }
    return 1.0;
}

// `red` made lighter or darker, by whichever is the smaller change, until it reads on `panel` at
// `opacity`: still a red, not a grey that loses the failure state. None when no red does.
std::optional<QColor> legibleRed(const QColor &red, qreal opacity, const QColor &panel)
{
    if (reads(red, opacity, panel))
        return red;
    float hue = 0;
    float saturation = 0;
    float lightness = 0;
    red.getHslF(&hue, &saturation, &lightness);
    for (int step = 1; step < 50; ++step)
        for (const float candidate : {lightness - 0.02f * step, lightness + 0.02f * step})
            if (candidate >= 0.0f && candidate <= 1.0f &&
                reads(QColor::fromHslF(hue, saturation, candidate), opacity, panel))
                return QColor::fromHslF(hue, saturation, candidate).toRgb();
    return std::nullopt;
}

// The red and the least opacity from `opacity` up at which it reads on `panel`; on a panel where no
// red reads even at full opacity, the one that comes nearest.
std::pair<QColor, qreal> legibleRedAtLeast(const QColor &red, qreal opacity, const QColor &panel)
{
    for (qreal at = opacity; at < 1.0; at += 0.05)
        if (const auto found = legibleRed(red, at, panel))
            return {*found, at};
    if (const auto found = legibleRed(red, 1.0, panel))
        return {*found, 1.0};
    float hue = 0;
    float saturation = 0;
    float lightness = 0;
    red.getHslF(&hue, &saturation, &lightness);
    const QColor darkest = QColor::fromHslF(hue, saturation, 0.15f).toRgb();
    const QColor lightest = QColor::fromHslF(hue, saturation, 0.85f).toRgb();
    return {contrast(darkest, panel) >= contrast(lightest, panel) ? darkest : lightest, 1.0};
}

// Qt's XEmbed icon is a top-level widget of this name; it repaints when the tray places it.
bool isTrayIconWindow(const QWidget *widget)
{
    return widget->objectName() == QLatin1String("QSystemTrayIconSys");
}

// The native window that shows `tray`'s icon. None for a host that shows no window of ours (a
// StatusNotifierItem host), or before the icon is placed. With one icon window, it is ours; only
// among several does the place tell, since the tray may move the icon between two looks at it.
WId iconWindowOf(const QSystemTrayIcon &tray)
{
    const QRect geometry = tray.geometry();
    if (!geometry.isValid())
        return 0;
    std::vector<const QWidget *> iconWindows;
    const auto widgets = QApplication::topLevelWidgets();
    for (const QWidget *widget : widgets)
        if (isTrayIconWindow(widget) && widget->internalWinId())
            iconWindows.push_back(widget);
    if (iconWindows.size() == 1)
        return iconWindows.front()->internalWinId();
    for (const QWidget *widget : iconWindows)
        if (QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()) == geometry)
            return widget->internalWinId();
    return 0;
}

} // namespace

MenuBarExtra::MenuBarExtra(Commands commands, platform::TrayPanel *trayPanel, QObject *parent)
    : QObject(parent), m_commands(std::move(commands)), m_trayPanel(trayPanel), m_tray(new QSystemTrayIcon(this))
{
    m_tray->setToolTip(QStringLiteral("ZEPA QUARN"));
    refreshIcon();
    if (m_trayPanel) {
        connect(m_trayPanel, &platform::TrayPanel::changed, this, &MenuBarExtra::refreshIcon);
        // The icon window comes and goes with the tray (a new tray makes a new one): watched
        // wherever it is.
        QCoreApplication::instance()->installEventFilter(this);
    }
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

bool MenuBarExtra::eventFilter(QObject *watched, QEvent *event)
{
    // The icon is painted where the tray has just placed it: the panel behind it may be another.
    if (event->type() == QEvent::Paint && watched->isWidgetType() && isTrayIconWindow(static_cast<QWidget *>(watched)))
        refreshIcon();
    return QObject::eventFilter(watched, event);
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
    return ringIcon(ringInk(backdrop(), m_scheme, isDimmed(), m_failing));
}

TrayBackdrop MenuBarExtra::backdrop() const
{
    TrayBackdrop backdrop;
    if (!m_trayPanel)
        return backdrop;
    if (const auto colors = m_trayPanel->colors()) {
        backdrop.foreground = QColor::fromRgb(colors->foreground);
        backdrop.error = QColor::fromRgb(colors->error);
    }
    if (const WId window = iconWindowOf(*m_tray))
        if (const auto panel = m_trayPanel->panelColorBehind(window))
            backdrop.panel = QColor::fromRgb(*panel);
    return backdrop;
}

void MenuBarExtra::refreshIcon()
{
    const RingInk ink = ringInk(backdrop(), m_scheme, isDimmed(), m_failing);
    if (ink == m_shownInk)
        return;
    m_shownInk = ink;
    m_tray->setIcon(ringIcon(ink));
}

RingInk MenuBarExtra::ringInk(const TrayBackdrop &backdrop, ColorScheme scheme, bool dimmed, bool failing)
{
    const QColor dark = Palette::color(Palette::textPrimary, ColorScheme::light);
    const QColor light = Palette::color(Palette::textPrimary, ColorScheme::dark);
    RingInk ink;
    // With nothing known of the panel, the ring sits on its own edge, which is what it must read on.
    QColor panel;
    if (backdrop.panel)
        panel = *backdrop.panel;
    else if (backdrop.foreground)
        panel = luminance(*backdrop.foreground) < 0.18 ? light : dark;
    else {
        ink.edge = scheme == ColorScheme::light ? light : dark;
        panel = *ink.edge;
    }
    const bool onDarkPanel = luminance(panel) < 0.18;
    if (failing) {
        const QColor red = backdrop.error.value_or(
            Palette::color(Palette::danger, onDarkPanel ? ColorScheme::dark : ColorScheme::light));
        std::tie(ink.color, ink.opacity) = legibleRedAtLeast(red, dimmed ? kDimmed : 1.0, panel);
        return ink;
    }
    ink.color = backdrop.foreground                               ? *backdrop.foreground
                : contrast(dark, panel) >= contrast(light, panel) ? dark
                                                                  : light;
    // A tray's own foreground on a panel that cannot be read keeps the usual dimming.
    ink.opacity = !dimmed ? 1.0 : backdrop.panel || !backdrop.foreground ? dimmedOpacity(ink.color, panel) : kDimmed;
    return ink;
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

QIcon MenuBarExtra::ringIcon(const RingInk &ink)
{
    QIcon result;
    for (int scale : {1, 2}) {
        QPixmap pixmap(18 * scale, 18 * scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF square(0, 0, 18 * scale, 18 * scale);
        ZepaSymbol mark;
        mark.size = 16 * scale;
        if (ink.edge) {
            // The arcs grown by a point all round, in the space the mark leaves in its square.
            const QRectF frame(scale, scale, mark.size, mark.size);
            painter.setPen(QPen(*ink.edge, 2 * scale, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.setBrush(*ink.edge);
            for (int index = 0; index < 4; ++index)
                painter.drawPath(ZepaSymbol::Arc{index}.path(frame));
        }
        painter.setOpacity(ink.opacity);
        mark.color = ink.color;
        mark.paint(painter, square);
        painter.end();
        result.addPixmap(pixmap);
    }
    return result;
}

} // namespace zq
