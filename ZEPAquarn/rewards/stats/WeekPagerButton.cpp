#include "rewards/stats/WeekPagerButton.h"

#include "menubar/brand/Palette.h"
#include "menubar/brand/SymbolCatalogue.h"

#include <QPainter>

namespace zq {

namespace {

constexpr double kDisabledOpacity = 0.44;

} // namespace

WeekPagerButton::WeekPagerButton(bool pointsLeft, QWidget *parent) : QAbstractButton(parent), m_pointsLeft(pointsLeft)
{
    setFixedSize(28, 28);
    setCursor(Qt::PointingHandCursor);
}

void WeekPagerButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const ColorScheme scheme = colorSchemeOf(*this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : kDisabledOpacity);
    const QRectF circle = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Palette::color(Palette::hairline, scheme), 1));
    painter.setBrush(Palette::color(Palette::surface, scheme));
    painter.drawEllipse(circle);
    SymbolCatalogue::paint(painter, QRectF(circle.center() - QPointF(5.5, 5.5), QSizeF(11, 11)),
                           m_pointsLeft ? u"chevron.left" : u"chevron.right",
                           Palette::color(Palette::textSecondary, scheme));
}

} // namespace zq
