#pragma once

#include "menubar/brand/Motion.h"

class QWidget;

namespace zq {

// A widget's hover highlight that fades in and out along `curve`, from wherever it stands when the
// pointer enters or leaves. The widget repaints each frame of its window's ticker; frames run only
// while it fades.
class HoverFade {
public:
    HoverFade(QWidget &widget, TimingCurve curve);
    void setHovering(bool hovering);
    bool hovering() const { return m_hovering; }
    // 0: no highlight, 1: the full highlight.
    double progress() const { return m_fade.value(); }
    bool isAnimating() const { return m_fade.isAnimating(); }

private:
    QWidget &m_widget;
    bool m_hovering = false;
    AnimatedValue m_fade;
};

} // namespace zq
