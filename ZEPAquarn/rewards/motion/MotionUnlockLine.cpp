#include "rewards/motion/MotionUnlockLine.h"

#include "rewards/FittedLine.h"

#include <QFontMetricsF>
#include <QPainter>

namespace zq {

MotionUnlockLine::MotionUnlockLine(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setFont(textFont(kStyle));
    // Stretched to the full width it is given; it asks for none of its own.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QSize MotionUnlockLine::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return {qCeil(metrics.horizontalAdvance(text())), qCeil(metrics.height())};
}

QSize MotionUnlockLine::minimumSizeHint() const
{
    return {0, sizeHint().height()};
}

void MotionUnlockLine::paintEvent(QPaintEvent *)
{
    const QRect area = contentsRect();
    const FittedLine line = FittedLine::fit(text(), kStyle, area.width(), kMinimumScale);
    QPainter painter(this);
    painter.setFont(line.font);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line.text);
}

} // namespace zq
