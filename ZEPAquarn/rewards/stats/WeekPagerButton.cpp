#include "rewards/stats/WeekPagerButton.h"

#include "menubar/brand/Metrics.h"
#include "menubar/brand/Palette.h"
#include "menubar/brand/SymbolCatalogue.h"

#include <QPainter>

namespace zq {

namespace {

constexpr int kDiameter = 28;
constexpr double kChevronSize = 11;

} // namespace

WeekPagerButton::WeekPagerButton(bool pointsLeft, QWidget *parent) : QAbstractButton(parent), m_pointsLeft(pointsLeft)
{
    setFixedSize(kDiameter, kDiameter);
    setCursor(Qt::PointingHandCursor);
}

void WeekPagerButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const ColorScheme scheme = colorSchemeOf(*this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : Metrics::kDisabledOpacity);
    const QRectF circle = strokedRect(QRectF(rect()));
    painter.setPen(QPen(Palette::color(Palette::hairline, scheme), Metrics::kHairline));
    painter.setBrush(Palette::color(Palette::surface, scheme));
    painter.drawEllipse(circle);
    SymbolCatalogue::paint(
        painter, QRectF(circle.center() - QPointF(kChevronSize, kChevronSize) / 2, QSizeF(kChevronSize, kChevronSize)),
        m_pointsLeft ? u"chevron.left" : u"chevron.right", Palette::color(Palette::textSecondary, scheme));
}

} // namespace zq
