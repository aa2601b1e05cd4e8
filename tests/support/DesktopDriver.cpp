#include "support/DesktopDriver.h"

#include "platform/linux/x11/X11KeyboardMap.h"
#include "support/Polling.h"

#include <QTemporaryDir>

#include <X11/Xlib.h>

namespace zq::test {

namespace {

// The keysym the display server gives the kernel's Fn key.
constexpr KeySym kFnKeysym = 0x10081000 + 0x1D0;

} // namespace

DesktopDriver::DesktopDriver(QString display) : m_display(std::move(display)) {}

QProcessEnvironment DesktopDriver::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    return environment;
}

ToolResult DesktopDriver::xdotool(const QStringList &arguments) const
{
    return runTool(QStringLiteral("xdotool"), arguments, environment());
}

QStringList DesktopDriver::windows(const QStringList &search) const
{
    QStringList arguments{QStringLiteral("search")};
    arguments += search;
    return QString::fromUtf8(xdotool(arguments).standardOutput).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QRect DesktopDriver::geometry(const QString &window) const
{
    const ToolResult shell = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    QRect rect;
    for (const QByteArray &line : shell.standardOutput.split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() != 2)
            continue;
        const int value = pair[1].toInt();
        if (pair[0] == "X")
            rect.moveLeft(value);
        else if (pair[0] == "Y")
            rect.moveTop(value);
        else if (pair[0] == "WIDTH")
            rect.setWidth(value);
        else if (pair[0] == "HEIGHT")
            rect.setHeight(value);
    }
    return rect;
}

bool DesktopDriver::keys(const QStringList &names) const
{
    QStringList arguments{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60")};
    arguments += names;
    return xdotool(arguments).succeeded();
}

QRect DesktopDriver::trayIcon() const
{
    QRect icon;
    QRect previous;
    const bool placed = waitFor(
        [&] {
            const QStringList hosts =
                windows({QStringLiteral("--onlyvisible"), QStringLiteral("--class"), QStringLiteral("trayer")});
            const QRect host = hosts.isEmpty() ? QRect() : geometry(hosts.front());
            icon = QRect();
            for (const QString &window :
                 windows({QStringLiteral("--onlyvisible"), QStringLiteral("--class"), QStringLiteral("zepaquarn")})) {
                const QRect rect = geometry(window);
                if (rect.width() > 0 && rect.width() <= 48 && rect.height() <= 48 && host.contains(rect)) {
                    icon = rect;
                    break;
                }
            }
            const bool settled = icon.isValid() && icon == previous;
            previous = icon;
            return settled;
        },
        kLoadedMachineTimeout, std::chrono::milliseconds(100));
    return placed ? icon : QRect();
}

QStringList DesktopDriver::visiblePanel() const
{
    return windows({QStringLiteral("--onlyvisible"), QStringLiteral("--name"), QStringLiteral("^ZEPA QUARN Menu$")});
}

bool DesktopDriver::click(const QPoint &at) const
{
    // Without --sync: it waits for the pointer to leave where it was, which never happens when it is
    // there already (an earlier test of the process clicked the same place) until xdotool gives up.
    // The server takes the move before the click anyway.
    return xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                    QStringLiteral("click"), QStringLiteral("1")})
        .succeeded();
}

QRect DesktopDriver::openPanel() const
{
    const QRect icon = trayIcon();
    if (!icon.isValid())
        return {};
    click(icon.center());
    if (!waitFor([&] { return !visiblePanel().isEmpty(); }, kLoadedMachineTimeout, std::chrono::milliseconds(50)))
        return {};
    return geometry(visiblePanel().value(0));
}

QImage DesktopDriver::screenshot() const
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("screen.png"));
    const ToolResult grabbed =
        runTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path}, environment());
    return grabbed.succeeded() ? QImage(path) : QImage();
}

bool DesktopDriver::hasFnKey() const
{
    const std::optional<platform::KeyboardMap> map = platform::x11::readKeyboardMap(m_display.toLocal8Bit());
    return map && map->hasFnKey;
}

bool DesktopDriver::removeFnKeys() const
{
    Display *display = XOpenDisplay(m_display.toLocal8Bit().constData());
    if (!display)
        return false;
    int minCode = 0;
    int maxCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    int perCode = 0;
    KeySym *symbols = XGetKeyboardMapping(display, ::KeyCode(minCode), maxCode - minCode + 1, &perCode);
    if (symbols) {
        for (int code = minCode; code <= maxCode; ++code) {
            KeySym *row = symbols + std::ptrdiff_t(code - minCode) * perCode;
            bool changed = false;
            for (int i = 0; i < perCode; ++i) {
                if (row[i] == kFnKeysym) {
                    row[i] = NoSymbol;
                    changed = true;
                }
            }
            if (changed)
                XChangeKeyboardMapping(display, code, perCode, row, 1);
        }
        XFree(symbols);
    }
    XSync(display, False);
    XCloseDisplay(display);
    return waitFor([this] { return !hasFnKey(); }, kLoadedMachineTimeout, std::chrono::milliseconds(50));
}

} // namespace zq::test
