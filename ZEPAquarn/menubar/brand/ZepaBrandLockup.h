#pragma once

#include "menubar/brand/Palette.h"

#include <QRectF>
#include <QWidget>

class QPainter;

namespace zq {

// The brand's two images, drawn as single-colour artwork. "ZepaRing" is the mark's four arcs (also
// the tray icon); "ZepaWordmark" is the word ZEPA in the brand face, fitted to a height.
void paintZepaRing(QPainter &painter, const QRectF &rect, const QColor &color);
// Draws the wordmark at `height`, its left edge and vertical centre at `leftCentre`; returns its width.
qreal paintZepaWordmark(QPainter &painter, QPointF leftCentre, qreal height, const QColor &color);
// Width over height of the wordmark.
qreal zepaWordmarkAspect();

// The small brand signature: the ring, and beside it the wordmark above the word "QUARN".
class ZepaBrandLockup {
public:
    // The size the lockup takes; it neither stretches nor compresses.
    static QSizeF idealSize();
    // Draws the lockup at its ideal size, from the top-left corner of `rect`.
    static void paint(QPainter &painter, const QRectF &rect, ColorScheme scheme);
};

// The lockup as a widget, in the scheme in effect where it is shown. Read out as "ZEPA QUARN".
class ZepaBrandLockupView : public QWidget {
    Q_OBJECT
public:
    explicit ZepaBrandLockupView(QWidget *parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace zq
