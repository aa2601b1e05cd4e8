#include "support/TrayHost.h"

#include "support/Polling.h"

#include <QByteArray>

#include <memory>

// X11 last: its macros must not reach the Qt headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace zq::test {

namespace {

struct DisplayCloser {
    void operator()(Display *display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

DisplayHandle openDisplay(const QString &name)
{
    return DisplayHandle(XOpenDisplay(name.toLocal8Bit().constData()));
}

} // namespace

TrayHost::~TrayHost() = default;

bool TrayHost::start(const QString &display, std::optional<QRgb> tint)
{
    m_display = display;
    ChildSpec spec;
    spec.program = QStringLiteral("trayer");
    spec.arguments = {QStringLiteral("--edge"),  QStringLiteral("top"),         QStringLiteral("--align"),
                      QStringLiteral("right"),   QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                      QStringLiteral("--width"), QStringLiteral("100"),         QStringLiteral("--height"),
                      QStringLiteral("24")};
    if (tint)
        spec.arguments << QStringLiteral("--tint")
                       << QStringLiteral("0x%1").arg(*tint & 0xFFFFFF, 6, 16, QLatin1Char('0'))
                       << QStringLiteral("--transparent") << QStringLiteral("true") << QStringLiteral("--alpha")
                       << QStringLiteral("0");
    spec.environment.insert(QStringLiteral("DISPLAY"), display);
    spec.standardOutput = ChildStream::Null;
    spec.standardError = ChildStream::Null;
    if (!m_tray.start(spec)) {
        m_error = QStringLiteral("trayer: ") + m_tray.errorString();
        return false;
    }
    if (!waitFor([this] { return manager() != None || !m_tray.isRunning(); }, kLoadedMachineTimeout) ||
        !m_tray.isRunning()) {
        m_error = QStringLiteral("trayer did not take the tray selection (%1)").arg(m_tray.howItEnded());
        return false;
    }
    return true;
}

unsigned long TrayHost::manager() const
{
    const DisplayHandle display = openDisplay(m_display);
    if (!display)
        return None;
    const QByteArray selection = "_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(display.get()));
    return XGetSelectionOwner(display.get(), XInternAtom(display.get(), selection.constData(), False));
}

bool TrayHost::setColors(QRgb foreground, QRgb error)
{
    const DisplayHandle display = openDisplay(m_display);
    const Window window = manager();
    if (!display || window == None)
        return false;
    // Each colour as 16-bit r, g, b: foreground, error, warning, success.
    long cardinals[12];
    const QRgb colors[4] = {foreground, error, qRgb(128, 128, 128), qRgb(128, 128, 128)};
    for (int color = 0; color < 4; ++color) {
        cardinals[color * 3] = qRed(colors[color]) * 257;
        cardinals[color * 3 + 1] = qGreen(colors[color]) * 257;
        cardinals[color * 3 + 2] = qBlue(colors[color]) * 257;
    }
    XChangeProperty(display.get(), window, XInternAtom(display.get(), "_NET_SYSTEM_TRAY_COLORS", False), XA_CARDINAL,
                    32, PropModeReplace, reinterpret_cast<unsigned char *>(cardinals), 12);
    XSync(display.get(), False);
    return true;
}

} // namespace zq::test
