#include "menubar/brand/FocusRing.h"

#include "menubar/brand/Metrics.h"

#include <QKeyEvent>
#include <QPainter>
#include <QWidget>

#include <algorithm>

namespace zq {

void paintFocusRing(QPainter &painter, const QRectF &rect, qreal radius, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Palette::color(Palette::focus, scheme), Metrics::kRingWidth));
    painter.setBrush(Qt::NoBrush);
    // The stroke's centre line sits one point in, so the ring's outer edge is the shape's own edge.
    const qreal inner = std::max<qreal>(0, radius - Metrics::kRingWidth / 2);
    painter.drawRoundedRect(strokedRect(rect, Metrics::kRingWidth), inner, inner);
    // A line of the page's colour just inside parts the ring from the control, so the ring shows on
    // a control of the focus colour itself (a primary button, a switch that is on).
    const QRectF parted =
        rect.adjusted(Metrics::kRingWidth, Metrics::kRingWidth, -Metrics::kRingWidth, -Metrics::kRingWidth);
    const qreal partedRadius = std::max<qreal>(0, radius - Metrics::kRingWidth - Metrics::kHairline / 2);
    painter.setPen(QPen(Palette::color(Palette::background, scheme), Metrics::kHairline));
    painter.drawRoundedRect(strokedRect(parted), partedRadius, partedRadius);
    painter.restore();
}

bool keyboardMovesFocus(const QWidget &widget)
{
    return widget.window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void setKeyboardMovesFocus(QWidget &widget, bool keyboard)
{
    QWidget *window = widget.window();
    if (window->testAttribute(Qt::WA_KeyboardFocusChange) == keyboard)
        return;
    window->setAttribute(Qt::WA_KeyboardFocusChange, keyboard);
    // The ring of a focused field's well is drawn by the well around it.
    for (QWidget *focused = window->focusWidget(); focused && focused != window; focused = focused->parentWidget())
        focused->update();
}

bool showsFocusRing(const QWidget &widget)
{
    return widget.hasFocus() && keyboardMovesFocus(widget);
}

bool FocusVisibility::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        // A modifier alone is part of a shortcut or a pointer gesture, not a move of the keyboard.
        const int key = static_cast<QKeyEvent *>(event)->key();
        const bool modifier = key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
                              key == Qt::Key_Meta || key == Qt::Key_Super_L || key == Qt::Key_Super_R ||
                              key == Qt::Key_AltGr;
        if (!modifier && watched->isWidgetType())
            setKeyboardMovesFocus(*static_cast<QWidget *>(watched), true);
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
        if (watched->isWidgetType())
            setKeyboardMovesFocus(*static_cast<QWidget *>(watched), false);
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace zq
