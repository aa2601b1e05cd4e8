#pragma once

#include <QColor>
#include <QPixmap>
#include <QRectF>
#include <QStringList>
#include <QStringView>

class QPainter;

namespace zq {

// The symbols the views draw, by the names the design gives them ("chevron.down", "doc.on.doc",
// "wand.and.stars", …), each mapped to one icon of the bundled set and tinted at paint time.
// A name without a mapping draws nothing and is logged once. Main thread only.
class SymbolCatalogue {
public:
    // Every mapped name, sorted.
    static QStringList names();
    static bool contains(QStringView name);
    // The resource path of the name's icon; empty when it has none.
    static QString resourcePath(QStringView name);

    // Draws the symbol in `color`, fitted into `rect` (kept square, centred).
    static void paint(QPainter &painter, const QRectF &rect, QStringView name, const QColor &color);
    // The square a symbol of `pointSize` fills, in whole pixels. The design sizes symbols as text:
    // a 12-point symbol's glyph is about 12 pixels high. The bundled icons leave an eighth of their
    // box empty on every side, so the box is a third larger than that.
    static qreal boxForPointSize(qreal pointSize);

    // The symbol as a pixmap of `size` logical pixels at `ratio`, for menus and buttons.
    static QPixmap pixmap(QStringView name, QSizeF size, const QColor &color, qreal ratio = 1.0);
};

} // namespace zq
