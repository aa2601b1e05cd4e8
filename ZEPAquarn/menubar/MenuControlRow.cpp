#include "menubar/MenuControlRow.h"

#include "menubar/MenuCard.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/Typography.h"

#include <QEnterEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace zq {

MenuControlRow::MenuControlRow(QString symbol, QString title, QWidget *control, QWidget *parent)
    : QWidget(parent), m_symbol(std::move(symbol)), m_title(std::move(title)), m_control(control),
      m_hover(*this, rowHoverAnimation)
{
    setMinimumHeight(Metrics::kRowHeight);
    auto *layout = new QHBoxLayout(this);
    // Room on the leading side for the tile (26) and the title; the control sits at the trailing edge.
    layout->setContentsMargins(int(MenuMetrics::kRowInset), int(kMenuRowPaddingY), int(MenuMetrics::kRowInset),
                               int(kMenuRowPaddingY));
    layout->setSpacing(int(MenuMetrics::kRowInset));
    layout->addStretch(1);
    control->setParent(this);
    layout->addWidget(control, 0, Qt::AlignVCenter);
}

void MenuControlRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipPath(menuCardInterior(*this));
    const ColorScheme scheme = colorSchemeOf(*this);
    painter.fillRect(rect(), menuRowHoverColor(m_hover.progress(), scheme));
    const QRectF tile(MenuMetrics::kRowInset, (height() - MenuMetrics::kIconTileSize) / 2.0, MenuMetrics::kIconTileSize,
                      MenuMetrics::kIconTileSize);
    paintMenuIconTile(painter, tile, m_symbol, scheme);
    painter.setFont(textFont(textStyle::rowTitle));
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    const qreal textLeft = tile.right() + MenuMetrics::kRowInset;
    const qreal textRight = m_control->geometry().left() - MenuMetrics::kAccessoryGap;
    painter.drawText(QRectF(textLeft, 0, std::max<qreal>(0, textRight - textLeft), height()),
                     Qt::AlignVCenter | Qt::AlignLeft, m_title);
}

void MenuControlRow::enterEvent(QEnterEvent *)
{
    m_hover.setHovering(true);
}

void MenuControlRow::leaveEvent(QEvent *)
{
    m_hover.setHovering(false);
}

} // namespace zq
