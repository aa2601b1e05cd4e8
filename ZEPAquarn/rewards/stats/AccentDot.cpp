#include "rewards/stats/AccentDot.h"

#include "menubar/brand/Palette.h"

#include <QPainter>

namespace zq {

namespace {

constexpr int kDiameter = 4;

} // namespace

AccentDot::AccentDot(QWidget *parent) : QWidget(parent)
{
    setFixedSize(kDiameter, kDiameter);
}

void AccentDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::color(Palette::accent, colorSchemeOf(*this)));
    painter.drawEllipse(QRectF(rect()));
}

} // namespace zq
