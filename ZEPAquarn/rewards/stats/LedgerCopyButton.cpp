#include "rewards/stats/LedgerCopyButton.h"

#include "menubar/brand/Palette.h"
#include "rewards/RewardsFont.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace zq {

namespace {

constexpr double kDisabledOpacity = 0.44;

} // namespace

LedgerCopyButton::LedgerCopyButton(QWidget *parent) : QAbstractButton(parent)
{
    setFont(rewardsFont(RewardsFace::system, 12, QFont::Medium, -0.06));
    setCursor(Qt::PointingHandCursor);
}

QSize LedgerCopyButton::sizeHint() const
{
    return {qCeil(QFontMetricsF(font()).horizontalAdvance(text())) + 26, 30};
}

void LedgerCopyButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const ColorScheme scheme = colorSchemeOf(*this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : kDisabledOpacity);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(shape, Palette::color(Palette::accent, scheme));
    painter.setPen(Palette::color(Palette::onAccent, scheme));
    painter.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace zq
