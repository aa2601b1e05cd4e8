#include "menubar/brand/WindowPlacement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QtMath>

#include <algorithm>

namespace zq {

namespace {

// A title bar, in the screen's own pixels: what most window managers put on a window.
constexpr qreal kTitleBarPixels = 32;

} // namespace

QSize titleBarAllowance(qreal devicePixelRatio)
{
    return {0, qCeil(kTitleBarPixels / devicePixelRatio)};
}

QSize frameAllowance(const QWidget &window)
{
    const QSize frame = window.frameGeometry().size() - window.geometry().size();
    return frame.isNull() ? titleBarAllowance(window.devicePixelRatioF()) : frame;
}

QScreen *screenWithPointer()
{
    if (QScreen *screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    return QGuiApplication::primaryScreen();
}

QPoint centredIn(const QRect &area, const QSize &frameSize)
{
    return {area.left() + std::max(0, (area.width() - frameSize.width()) / 2),
            area.top() + std::max(0, (area.height() - frameSize.height()) / 2)};
}

void centreOnScreen(QWidget &window, const QScreen &screen)
{
    window.move(centredIn(screen.availableGeometry(), window.size() + frameAllowance(window)));
}

} // namespace zq
