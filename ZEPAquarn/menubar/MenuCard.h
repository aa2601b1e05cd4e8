#pragma once

#include "menubar/brand/Palette.h"

#include <QHash>
#include <QWidget>

class QPainter;
class QPainterPath;

namespace zq {

// A row's vertical padding, and the corners of its icon tile, which the footer's shortcut tag shares.
inline constexpr qreal kMenuRowPaddingY = 9;
inline constexpr qreal kMenuTileRadius = 7.5;

// The shape every card and banner of the tray panel shares: a 14-point rounded rectangle filled
// with `fill` and a 1-point `border` drawn inside it.
void paintMenuCard(QPainter &painter, const QRectF &rect, const QColor &fill, const QColor &border);
// The 26-point tile that carries a row's symbol.
void paintMenuIconTile(QPainter &painter, const QRectF &rect, const QString &symbol, ColorScheme scheme);
// The wash under a row of a card, `hover` (0 to 1) of the way in.
QColor menuRowHoverColor(double hover, ColorScheme scheme);
// Inside the hairline of the card that holds `row`, in the row's coordinates: where a row's hover and
// focus fill may paint, so that it keeps the card's rounded corners and its border. The row's own
// rectangle when the row is not in a card.
QPainterPath menuCardInterior(const QWidget &row);

// A card of the panel: its rows stacked with hairline dividers between them. A hidden row takes its
// divider with it.
class MenuCard : public QWidget {
    Q_OBJECT
public:
    explicit MenuCard(const QList<QWidget *> &rows, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The divider above each row but the first.
    QHash<QObject *, QWidget *> m_dividers;
};

} // namespace zq
