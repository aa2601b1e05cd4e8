#include "platform/linux/x11/X11TrayPanel.h"

#include "platform/linux/x11/X11Connection.h"
#include "runtime/Log.h"

#include <QMetaObject>
#include <QPoint>
#include <QRect>
#include <QSocketNotifier>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <map>

namespace zq::platform {

namespace {

// Shifts a masked channel of a true-colour pixel down to 8 bits.
std::uint32_t channel(unsigned long pixel, unsigned long mask)
{
    if (!mask)
        return 0;
    int shift = 0;
    while (!(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    const unsigned long value = (pixel >> shift) & mask;
    return std::uint32_t(value * 255 / mask);
}

// One of the property's 16-bit r, g, b triples as 0xRRGGBB.
std::uint32_t rgbOf(const long *cardinals)
{
    const auto eight = [](long value) { return std::uint32_t(std::clamp(value, 0L, 65535L) >> 8); };
    return eight(cardinals[0]) << 16 | eight(cardinals[1]) << 8 | eight(cardinals[2]);
}

} // namespace

X11TrayPanel::X11TrayPanel(QByteArray displayName, rt::MainLoop &loop, QObject *parent)
    : TrayPanel(parent), m_displayName(std::move(displayName)), m_loop(loop)
{}

void X11TrayPanel::start()
{
    if (m_started)
        return;
    m_started = true;
    QString error;
    m_connection = X11Connection::open(m_displayName, &error);
    if (!m_connection) {
        qCWarning(lcApp).noquote() << "tray: cannot watch the tray's colours —" << error;
        return;
    }
    Display *display = m_connection->display();
    const QByteArray selection = "_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(display));
    m_selection = XInternAtom(display, selection.constData(), False);
    m_colorsAtom = XInternAtom(display, "_NET_SYSTEM_TRAY_COLORS", False);
    m_managerAtom = XInternAtom(display, "MANAGER", False);
    // A new manager announces itself to the root window's structure listeners.
    XSelectInput(display, DefaultRootWindow(display), StructureNotifyMask);
    const bool found = findManager();
    m_notifier = new QSocketNotifier(m_connection->fileDescriptor(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11TrayPanel::readEvents);
    readEvents();
    if (found)
        emit changed();
}

X11TrayPanel::~X11TrayPanel()
{
    for (rt::WorkItem &read : m_settleReads)
        read.cancel();
}

void X11TrayPanel::readAgainLater()
{
    // Once soon, once more later: a tray busy starting paints late.
    const std::chrono::milliseconds delays[] = {kFirstSettleRead, kLastSettleRead};
    for (std::size_t index = 0; index < m_settleReads.size(); ++index) {
        m_settleReads[index].cancel();
        m_settleReads[index] = m_loop.postDelayed(delays[index], [this] { emit changed(); });
    }
}

bool X11TrayPanel::findManager()
{
    Display *display = m_connection->display();
    const Window manager = XGetSelectionOwner(display, m_selection);
    // Selected before the property is read, so no change after the read goes unseen.
    if (manager != None && manager != m_manager)
        XSelectInput(display, manager, PropertyChangeMask | StructureNotifyMask);
    std::optional<Colors> colors;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    if (manager != None &&
        XGetWindowProperty(display, manager, m_colorsAtom, 0, 12, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        type == XA_CARDINAL && format == 32 && count == 12) {
        // Format 32 comes as longs, whatever their width.
        const auto *cardinals = reinterpret_cast<const long *>(data);
        colors = Colors{rgbOf(cardinals), rgbOf(cardinals + 3), rgbOf(cardinals + 6), rgbOf(cardinals + 9)};
    }
    if (data)
        XFree(data);
    XFlush(display);
    const bool changed = manager != m_manager || colors != m_colors;
    m_manager = manager;
    m_colors = colors;
    return changed;
}

void X11TrayPanel::readEvents()
{
    if (m_connection->isBroken()) {
        m_notifier->setEnabled(false);
        return;
    }
    Display *display = m_connection->display();
    bool lookAgain = false;
    bool iconMoved = false;
    bool holdersChanged = false;
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ClientMessage && event.xclient.message_type == m_managerAtom &&
            Atom(event.xclient.data.l[1]) == m_selection)
            lookAgain = true;
        else if (event.type == PropertyNotify && event.xproperty.window == m_manager &&
                 event.xproperty.atom == m_colorsAtom)
            lookAgain = true;
        else if (event.type == DestroyNotify && event.xdestroywindow.window == m_manager)
            lookAgain = true;
        // Each comes as the followed window's own: no substructure is asked for.
        else if ((event.type == VisibilityNotify || event.type == ConfigureNotify || event.type == ReparentNotify) &&
                 std::ranges::find(m_followed, event.xany.window) != m_followed.end()) {
            iconMoved = true;
            holdersChanged = holdersChanged || event.type == ReparentNotify;
        }
    }
    if (holdersChanged)
        follow(m_iconWindow);
    if ((lookAgain && findManager()) || iconMoved)
        emit changed();
    // A tray may paint its panel only after the icon is on screen, and nothing tells when it has:
    // the panel is read again once the tray has had time to.
    if (iconMoved)
        readAgainLater();
}

void X11TrayPanel::follow(WId iconWindow) const
{
    Display *display = m_connection->display();
    m_iconWindow = iconWindow;
    m_followed.clear();
    long mask = VisibilityChangeMask | StructureNotifyMask;
    for (Window at = Window(iconWindow); at != None && at != DefaultRootWindow(display);) {
        // The manager's window may hold the icon: its colours stay followed.
        XSelectInput(display, at, at == m_manager ? mask | PropertyChangeMask : mask);
        m_followed.push_back(at);
        Window root = None;
        Window *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, at, &root, &at, &children, &count))
            break;
        if (children)
            XFree(children);
        mask = StructureNotifyMask;
    }
}

std::optional<std::uint32_t> X11TrayPanel::panelColorBehind(WId iconWindow) const
{
    if (!m_connection || m_connection->isBroken() || !iconWindow)
        return std::nullopt;
    // The replies may bring events in with them, which the socket will not announce again.
    QMetaObject::invokeMethod(const_cast<X11TrayPanel *>(this), &X11TrayPanel::readEvents, Qt::QueuedConnection);
    Display *display = m_connection->display();
    const Window root = DefaultRootWindow(display);
    // A new tray maps the icon inside a panel that it may show only later, and the icon window need
    // not paint again then: its events, and those of the windows that hold it, tell when it comes on
    // screen or moves. Those that came before this first look at it are lost, and the tray may not
    // have painted yet: it is read again later, as after an event.
    if (iconWindow != m_iconWindow) {
        follow(iconWindow);
        const_cast<X11TrayPanel *>(this)->readAgainLater();
    }
    // Where the window is now: the toolkit's idea of it is in its own (scaled) units, and misses the
    // tray moving the window that holds the icon. A window gone meanwhile fails the request, quietly.
    XWindowAttributes attributes{};
    int x = 0;
    int y = 0;
    Window child = None;
    if (!XGetWindowAttributes(display, Window(iconWindow), &attributes) || attributes.map_state != IsViewable ||
        !XTranslateCoordinates(display, Window(iconWindow), root, 0, 0, &x, &y, &child))
        return std::nullopt;
    const QRect iconGeometry(x, y, attributes.width, attributes.height);
    Visual *visual = DefaultVisual(display, DefaultScreen(display));
    const QRect screen(0, 0, DisplayWidth(display, DefaultScreen(display)),
                       DisplayHeight(display, DefaultScreen(display)));
    if (visual->c_class != TrueColor || !iconGeometry.isValid() || !screen.contains(iconGeometry))
        return std::nullopt;
    XImage *image = XGetImage(display, root, iconGeometry.x(), iconGeometry.y(), unsigned(iconGeometry.width()),
                              unsigned(iconGeometry.height()), AllPlanes, ZPixmap);
    // The colour most corners agree on: a neighbour's shadow or a panel's gradient may touch one.
    std::map<std::uint32_t, int> votes;
    if (image) {
        const int right = iconGeometry.width() - 1;
        const int bottom = iconGeometry.height() - 1;
        for (const QPoint corner : {QPoint(0, 0), QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom)}) {
            const unsigned long pixel = XGetPixel(image, corner.x(), corner.y());
            ++votes[channel(pixel, visual->red_mask) << 16 | channel(pixel, visual->green_mask) << 8 |
                    channel(pixel, visual->blue_mask)];
        }
        XDestroyImage(image);
    }
    if (votes.empty())
        return std::nullopt;
    return std::max_element(votes.begin(), votes.end(),
                            [](const auto &a, const auto &b) { return a.second < b.second; })
        ->first;
}

} // namespace zq::platform
