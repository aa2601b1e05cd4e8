#pragma once

#include "menubar/brand/Palette.h"

#include <QWidget>

class QPainter;

namespace zq {

// A 1-point line just inside the edge of a rounded rectangle of `radius`, so the outline never spills
// past the shape it belongs to. Leaves the painter's pen and brush as they were.
void strokeInsideEdge(QPainter &painter, const QRectF &rect, double radius, const QColor &color);

// The rounded well that holds a control (a search line, an editor, a card): the control fill with a
// hairline inside its edge.
void paintControlWell(QPainter &painter, const QRectF &rect, ColorScheme scheme, double radius = 8);

// A widget that paints the control well behind its children.
class ControlWell : public QWidget {
public:
    using QWidget::QWidget;

    // For a well that holds one frameless field: the brand's focus ring around the well while the
    // keyboard focus is inside it.
    void setFocusRingShown(bool shown);
    // Whether the focus widget is this well or inside it.
    bool holdsFocus() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QMetaObject::Connection m_focusWatch;
};

} // namespace zq
