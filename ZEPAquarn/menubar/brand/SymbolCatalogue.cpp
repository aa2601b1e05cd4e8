#include "menubar/brand/SymbolCatalogue.h"

#include "runtime/Log.h"

#include <QCache>
#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QSet>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

namespace zq {

namespace {

struct Mapping {
    const char *name;
    const char *file; // under :/symbols/
};

// Sorted by name. Filled names take the set's filled variant ("-filled").
constexpr std::array kMappings{
    Mapping{"arrow.clockwise", "rotate-clockwise"},
    Mapping{"arrow.down.app", "square-arrow-down"},
    Mapping{"arrow.down.circle", "circle-arrow-down"},
    Mapping{"arrow.down.circle.fill", "circle-arrow-down-filled"},
    Mapping{"arrow.triangle.2.circlepath", "refresh"},
    Mapping{"bolt.badge.checkmark", "bolt"},
    Mapping{"character.book.closed", "book-2"},
    Mapping{"checkmark", "check"},
    Mapping{"checkmark.circle", "circle-check"},
    Mapping{"checkmark.circle.fill", "circle-check-filled"},
    Mapping{"checkmark.seal", "rosette-discount-check"},
    Mapping{"chevron.down", "chevron-down"},
    Mapping{"chevron.left", "chevron-left"},
    Mapping{"chevron.right", "chevron-right"},
    Mapping{"circle", "circle"},
    Mapping{"circle.lefthalf.filled", "contrast"},
    Mapping{"clock.arrow.circlepath", "history"},
    Mapping{"cloud", "cloud"},
    Mapping{"command", "command"},
    Mapping{"computermouse", "mouse"},
    Mapping{"cpu", "cpu"},
    Mapping{"desktopcomputer", "device-desktop"},
    Mapping{"doc.on.doc", "copy"},
    Mapping{"dock.rectangle", "layout-bottombar"},
    Mapping{"exclamationmark.triangle.fill", "alert-triangle-filled"},
    Mapping{"gearshape", "settings"},
    Mapping{"globe", "world"},
    Mapping{"key", "key"},
    Mapping{"keyboard", "keyboard"},
    Mapping{"lifepreserver", "lifebuoy"},
    Mapping{"lightbulb", "bulb"},
    Mapping{"macwindow", "app-window"},
    Mapping{"magnifyingglass", "search"},
    Mapping{"mic", "microphone"},
    Mapping{"moon", "moon"},
    Mapping{"music.note", "music"},
    Mapping{"pause.fill", "player-pause-filled"},
    Mapping{"person.2", "users"},
    Mapping{"play.fill", "player-play-filled"},
    Mapping{"plus", "plus"},
    Mapping{"point.3.connected.trianglepath.dotted", "vector-triangle"},
    Mapping{"power", "power"},
    Mapping{"questionmark.circle", "help-circle"},
    Mapping{"speaker.wave.1.fill", "volume-2"},
    Mapping{"speaker.wave.2", "volume"},
    Mapping{"square.grid.2x2", "layout-grid"},
    Mapping{"stethoscope", "stethoscope"},
    Mapping{"sun.max", "sun"},
    Mapping{"text.bubble", "message-2"},
    Mapping{"trash", "trash"},
    Mapping{"wand.and.stars", "wand"},
    Mapping{"water.waves", "ripple"},
    Mapping{"waveform", "waveform"},
    Mapping{"waveform.circle", "waveform"},
    Mapping{"xmark", "x"},
    Mapping{"xmark.circle", "circle-x"},
    Mapping{"xmark.circle.fill", "circle-x-filled"},
};

const Mapping *find(QStringView name)
{
    const auto found = std::lower_bound(kMappings.begin(), kMappings.end(), name,
                                        [](const Mapping &m, QStringView n) { return QLatin1StringView(m.name) < n; });
    if (found == kMappings.end() || QLatin1StringView(found->name) != name)
        return nullptr;
    return &*found;
}

// The icon file drawn into a square of `side` pixels; null when it cannot be read. The SVG reader is
// a plugin, so the SVG module is opened when the first symbol is drawn, not with the process.
QImage rendered(const Mapping &mapping, int side)
{
    QImageReader reader(QStringLiteral(":/symbols/%1.svg").arg(QLatin1StringView(mapping.file)));
    reader.setScaledSize(QSize(side, side));
    QImage image = reader.read();
    if (image.isNull()) {
        static QSet<QString> reported;
        if (!reported.contains(reader.fileName())) {
            reported.insert(reader.fileName());
            qCWarning(lcWindow) << "symbols: cannot draw" << reader.fileName() << "—" << reader.errorString();
        }
    }
    return image;
}

void reportUnmapped(QStringView name)
{
    static QSet<QString> reported;
    const QString text = name.toString();
    if (reported.contains(text))
        return;
    reported.insert(text);
    qCWarning(lcWindow) << "symbols: no symbol named" << text;
}

QRectF squareIn(const QRectF &rect)
{
    const qreal side = std::min(rect.width(), rect.height());
    return {rect.center().x() - side / 2, rect.center().y() - side / 2, side, side};
}

} // namespace

QStringList SymbolCatalogue::names()
{
    QStringList all;
    for (const Mapping &mapping : kMappings)
        all << QString::fromLatin1(mapping.name);
    return all;
}

bool SymbolCatalogue::contains(QStringView name)
{
    return find(name) != nullptr;
}

QString SymbolCatalogue::resourcePath(QStringView name)
{
    const Mapping *mapping = find(name);
    return mapping ? QStringLiteral(":/symbols/%1.svg").arg(QLatin1StringView(mapping->file)) : QString();
}

QPixmap SymbolCatalogue::pixmap(QStringView name, QSizeF size, const QColor &color, qreal ratio)
{
    // Views repaint the same few symbols at the same sizes: keep the tinted results.
    static QCache<QString, QPixmap> tinted(256);
    const QString key = QStringLiteral("%1|%2x%3|%4|%5")
                            .arg(name)
                            .arg(size.width())
                            .arg(size.height())
                            .arg(QString::number(color.rgba(), 16))
                            .arg(ratio);
    if (const QPixmap *cached = tinted.object(key))
        return *cached;

    const QSize pixels = (size * ratio).toSize();
    QImage image(pixels.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const Mapping *mapping = find(name);
    const QRectF square = squareIn(QRectF(QPointF(0, 0), QSizeF(pixels)));
    const QImage symbol =
        mapping ? rendered(*mapping, std::max(1, static_cast<int>(std::lround(square.width())))) : QImage();
    if (!mapping) {
        reportUnmapped(name);
    } else if (!symbol.isNull()) {
        // The icons draw in one colour; tint by keeping their coverage and replacing the colour.
        QPainter painter(&image);
        painter.drawImage(square.topLeft(), symbol);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap result = QPixmap::fromImage(std::move(image));
    result.setDevicePixelRatio(ratio);
    if (!symbol.isNull())
        tinted.insert(key, new QPixmap(result));
    return result;
}

qreal SymbolCatalogue::boxForPointSize(qreal pointSize)
{
    return std::round(pointSize * 4 / 3);
}

void SymbolCatalogue::paint(QPainter &painter, const QRectF &rect, QStringView name, const QColor &color)
{
    if (rect.isEmpty())
        return;
    // Rendered at the device's resolution so that a ratio-2 target stays sharp.
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatio() : 1.0;
    const qreal scale = ratio * std::max(std::abs(painter.transform().m11()), std::abs(painter.transform().m22()));
    const QRectF square = squareIn(rect);
    const QPixmap image = pixmap(name, square.size(), color, std::max<qreal>(scale, 1.0));
    if (!contains(name))
        return;
    painter.drawPixmap(square, image, QRectF(QPointF(0, 0), QSizeF(image.size())));
}

} // namespace zq
