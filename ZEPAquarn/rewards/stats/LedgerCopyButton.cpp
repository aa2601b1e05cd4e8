#include "rewards/stats/LedgerCopyButton.h"

#include "menubar/brand/Metrics.h"
#include "menubar/brand/Palette.h"
#include "menubar/brand/Typography.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace zq {

namespace {

constexpr int kHeight = 30;
// The label's padding on each side.
constexpr int kPaddingX = 13;

} // namespace

LedgerCopyButton::LedgerCopyButton(QWidget *parent) : QAbstractButton(parent)
{
    setFont(textFont(textStyle::button));
    setCursor(Qt::PointingHandCursor);
}

QSize LedgerCopyButton::sizeHint() const
{
    return {qCeil(QFontMetricsF(font()).horizontalAdvance(text())) + 2 * kPaddingX, kHeight};
}

void LedgerCopyButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const ColorScheme scheme = colorSchemeOf(*this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : Metrics::kDisabledOpacity);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), Metrics::kControlRadius, Metrics::kControlRadius);
    painter.fillPath(shape, Palette::color(Palette::accent, scheme));
    painter.setPen(Palette::color(Palette::onAccent, scheme));
    painter.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace zq
