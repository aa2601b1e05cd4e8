#include "menubar/brand/HoverFade.h"

#include <QWidget>

namespace zq {

HoverFade::HoverFade(QWidget &widget, TimingCurve curve) : m_widget(widget), m_curve(curve)
{
    m_widget.setAttribute(Qt::WA_Hover);
    m_frames.setInterval(16);
    QObject::connect(&m_frames, &QTimer::timeout, &m_widget, [this] {
        if (m_clock.elapsed() >= m_curve.duration * 1000)
            m_frames.stop();
        m_widget.update();
    });
}

void HoverFade::setHovering(bool hovering)
{
    if (hovering == m_hovering)
        return;
    m_from = progress();
    m_hovering = hovering;
    m_clock.start();
    m_frames.start();
    m_widget.update();
}

double HoverFade::progress() const
{
    const double target = m_hovering ? 1.0 : 0.0;
    if (!m_clock.isValid())
        return target;
    return m_curve.interpolate(m_from, target, double(m_clock.elapsed()) / 1000.0);
}

} // namespace zq
