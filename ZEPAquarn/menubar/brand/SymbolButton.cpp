#include "menubar/brand/SymbolButton.h"

#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"

#include <QPainter>

#include <cmath>

namespace zq {

SymbolButton::SymbolButton(const QString &systemImage, qreal symbolSize, Palette::Token tint, int side, QWidget *parent)
    : QAbstractButton(parent), m_systemImage(systemImage), m_symbolSize(symbolSize), m_tint(tint), m_side(side)
{
    setFixedSize(side, side);
    setCursor(Qt::ArrowCursor);
    setAttribute(Qt::WA_Hover);
}

void SymbolButton::setSystemImage(const QString &name)
{
    m_systemImage = name;
    update();
}

QSize SymbolButton::sizeHint() const
{
    return {m_side, m_side};
}

void SymbolButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const ColorScheme scheme = colorSchemeOf(*this);
    // Under the pointer one step stronger than at rest.
    const Palette::Token reached = m_tint == Palette::textTertiary ? Palette::textSecondary : Palette::textPrimary;
    QColor ink = Palette::color(underMouse() && isEnabled() ? reached : m_tint, scheme);
    if (!isEnabled())
        painter.setOpacity(Metrics::kDisabledOpacity);
    else if (isDown())
        ink = Palette::color(Palette::textPrimary, scheme);
    // On whole pixels, so the symbol's strokes stay sharp at 1×.
    const qreal left = std::round((width() - m_symbolSize) / 2);
    const qreal top = std::round((height() - m_symbolSize) / 2);
    SymbolCatalogue::paint(painter, QRectF(left, top, m_symbolSize, m_symbolSize), m_systemImage, ink);
    if (showsFocusRing(*this))
        paintFocusRing(painter, QRectF(rect()), Metrics::kControlRadius, scheme);
}

} // namespace zq
