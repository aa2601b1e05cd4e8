#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>

class QPainter;
class QWidget;

namespace zq {
enum class ColorScheme;
}

namespace zq::test {

// Draws a view into `rect` (logical pixels), as the views' paint functions do.
using PaintFunction = std::function<void(QPainter &painter, const QRectF &rect)>;

// Renders `paint` offscreen into an ARGB image of `size` logical pixels at device-pixel ratio `ratio`
// (the image carries the ratio), over `background` (transparent by default), antialiased.
QImage renderPaint(QSizeF size, const PaintFunction &paint, qreal ratio = 1.0,
                   const QColor &background = Qt::transparent);
// Renders a widget (laid out at its current size; shown or not) the same way.
QImage renderWidget(QWidget &widget, qreal ratio = 1.0, const QColor &background = Qt::transparent);

// Gives `widget` the window background of `scheme`, as the window it sits in would.
void wearColorScheme(QWidget &widget, ColorScheme scheme);
// Wears `scheme`, lays `widget` out `width` wide and as tall as it asks, shows it, renders it over the
// scheme's window background and saves it as view-renders/NAME.png.
QImage renderInColorScheme(QWidget &widget, const QString &name, ColorScheme scheme, int width);

// The folder the renders go to: view-renders/ in the build folder (created on first use).
QString viewRenderDir();
// Saves `image` as view-renders/NAME.png and returns the path (empty when it could not be written).
QString saveRender(const QImage &image, const QString &name);

// The pixel under a logical point (scaled by the image's ratio), unpremultiplied.
QColor pixelAt(const QImage &image, QPointF logical);
// Whether two colours differ by at most `tolerance` in each of red, green, blue and alpha.
bool sameColor(const QColor &a, const QColor &b, int tolerance = 2);
// `color` composited over an opaque `background`, as it lands on the screen.
QColor over(const QColor &color, const QColor &background);
// The bounding box, in logical pixels, of the pixels whose alpha exceeds `alphaThreshold`;
// empty when there is none.
QRectF inkBounds(const QImage &image, int alphaThreshold = 24);
// The bounding box, in logical pixels, of the pixels within `tolerance` of `color`.
QRectF colorBounds(const QImage &image, const QColor &color, int tolerance = 2);
// How many device pixels have alpha above `alphaThreshold`.
int inkedPixels(const QImage &image, int alphaThreshold = 24);

} // namespace zq::test
