#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

namespace zq {

// Where the application's own windows open: centred on the screen with the pointer, the screen the
// user is looking at, whatever the window manager would pick (openbox drops a large window into
// whatever corner is free).

// A title bar in the application's pixels at `devicePixelRatio`: window managers draw theirs in the
// screen's own pixels, whatever scale the application draws at.
QSize titleBarAllowance(qreal devicePixelRatio);
// What a window's frame adds to it; before the window has a frame to measure, a title bar.
QSize frameAllowance(const QWidget &window);
// The screen with the pointer; the primary screen when the pointer is on none, null with no screen.
QScreen *screenWithPointer();
// The top-left corner that centres a frame of `frameSize` on `area`; a frame larger than the area
// keeps its top-left corner (and so its title bar) inside it.
QPoint centredIn(const QRect &area, const QSize &frameSize);
// Moves the top-level `window` to the centre of the available area of `screen`, frame and all.
void centreOnScreen(QWidget &window, const QScreen &screen);

} // namespace zq
