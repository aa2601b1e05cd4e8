#include "menubar/brand/SymbolTile.h"

#include "menubar/brand/SymbolCatalogue.h"

#include <QPainter>
#include <QPainterPath>

namespace zq {

void paintSymbolTile(QPainter &painter, const QRectF &tile, QStringView symbol, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(tile, 14, 14);
    painter.fillPath(shape, Palette::color(Palette::accentWash, scheme));
    SymbolCatalogue::paint(painter, QRectF(tile.center() - QPointF(14, 14), QSizeF(28, 28)), symbol,
                           Palette::color(Palette::accent, scheme));
    painter.restore();
}

SymbolTile::SymbolTile(QWidget *parent) : QWidget(parent)
{
    setFixedSize(kSide, kSide);
}

void SymbolTile::setSymbol(const QString &name)
{
    if (name == m_symbol)
        return;
    m_symbol = name;
    update();
}

void SymbolTile::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintSymbolTile(painter, QRectF(rect()), m_symbol, colorSchemeOf(*this));
}

} // namespace zq
