#include "menubar/brand/HoverFade.h"

#include <QWidget>

namespace zq {

HoverFade::HoverFade(QWidget &widget, TimingCurve curve)
    : m_widget(widget), m_fade(curve, [&widget] { widget.update(); })
{
    m_widget.setAttribute(Qt::WA_Hover);
}

void HoverFade::setHovering(bool hovering)
{
    if (hovering == m_hovering)
        return;
    m_hovering = hovering;
    m_fade.setTarget(hovering ? 1.0 : 0.0, m_widget);
}

} // namespace zq
