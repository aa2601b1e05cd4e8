#pragma once

#include "menubar/brand/CubicBezierEase.h"

#include <QElapsedTimer>
#include <QTimer>

class QWidget;

namespace zq {

// A widget's hover highlight that fades in and out along `curve`, from wherever it stands when the
// pointer enters or leaves. The widget repaints each frame; frames run only while it fades.
class HoverFade {
public:
    HoverFade(QWidget &widget, TimingCurve curve);
    void setHovering(bool hovering);
    bool hovering() const { return m_hovering; }
    // 0: no highlight, 1: the full highlight.
    double progress() const;
    bool isAnimating() const { return m_frames.isActive(); }

private:
    QWidget &m_widget;
    TimingCurve m_curve;
    bool m_hovering = false;
    double m_from = 0;
    QElapsedTimer m_clock;
    QTimer m_frames;
};

} // namespace zq
