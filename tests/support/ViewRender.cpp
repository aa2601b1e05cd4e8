#include "support/ViewRender.h"

#include "menubar/brand/Palette.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zq::test {

namespace {

QImage blankImage(QSizeF size, qreal ratio, const QColor &background)
{
    const QSize pixels((size * ratio).toSize());
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(background);
    return image;
}

// Folds the device pixels that pass `keep` into a logical bounding box.
template <typename Keep>
QRectF boundsOf(const QImage &source, Keep keep)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (!keep(line[x]))
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (right < 0)
        return {};
    const qreal ratio = source.devicePixelRatio();
    return QRectF(left / ratio, top / ratio, (right - left + 1) / ratio, (bottom - top + 1) / ratio);
}

} // namespace

QImage renderPaint(QSizeF size, const PaintFunction &paint, qreal ratio, const QColor &background)
{
    QImage image = blankImage(size, ratio, background);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    paint(painter, QRectF(QPointF(0, 0), size));
    painter.end();
    return image;
}

QImage renderWidget(QWidget &widget, qreal ratio, const QColor &background)
{
    QImage image = blankImage(widget.size(), ratio, background);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren | QWidget::DrawWindowBackground);
    return image;
}

void wearColorScheme(QWidget &widget, ColorScheme scheme)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, Palette::color(Palette::windowBackground, scheme));
    widget.setPalette(palette);
}

QImage renderInColorScheme(QWidget &widget, const QString &name, ColorScheme scheme, int width)
{
    wearColorScheme(widget, scheme);
    const int height = widget.heightForWidth(width);
    widget.resize(width, height > 0 ? height : widget.sizeHint().height());
    widget.show();
    QCoreApplication::processEvents();
    const QImage image = renderWidget(widget, 1.0, Palette::color(Palette::windowBackground, scheme));
    saveRender(image, name);
    return image;
}

QString viewRenderDir()
{
    // Test binaries run from inside the build folder: its root is where CMakeCache.txt lies.
    const QDir binary(QCoreApplication::applicationDirPath());
    QDir root = binary;
    QDir probe = binary;
    while (!probe.exists(QStringLiteral("CMakeCache.txt")) && probe.cdUp()) {
    }
    if (probe.exists(QStringLiteral("CMakeCache.txt")))
        root = probe;
    const QString path = root.filePath(QStringLiteral("view-renders"));
    QDir().mkpath(path);
    return path;
}

QString saveRender(const QImage &image, const QString &name)
{
    const QString path = QDir(viewRenderDir()).filePath(name + QStringLiteral(".png"));
    return image.save(path, "PNG") ? path : QString();
}

QColor pixelAt(const QImage &image, QPointF logical)
{
    const qreal ratio = image.devicePixelRatio();
    const QPoint device(int(logical.x() * ratio), int(logical.y() * ratio));
    if (!image.rect().contains(device))
        return {};
    return QColor::fromRgba(image.pixel(device));
}

bool sameColor(const QColor &a, const QColor &b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

QColor over(const QColor &color, const QColor &background)
{
    const double alpha = color.alphaF();
    const auto mix = [alpha](int top, int bottom) { return int(std::lround(top * alpha + bottom * (1.0 - alpha))); };
    return QColor(mix(color.red(), background.red()), mix(color.green(), background.green()),
                  mix(color.blue(), background.blue()));
}

QRectF inkBounds(const QImage &image, int alphaThreshold)
{
    return boundsOf(image, [alphaThreshold](QRgb pixel) { return qAlpha(pixel) > alphaThreshold; });
}

QRectF colorBounds(const QImage &image, const QColor &color, int tolerance)
{
    return boundsOf(image, [&](QRgb pixel) { return sameColor(QColor::fromRgba(pixel), color, tolerance); });
}

int inkedPixels(const QImage &image, int alphaThreshold)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < argb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            count += qAlpha(line[x]) > alphaThreshold ? 1 : 0;
    }
    return count;
}

} // namespace zq::test
