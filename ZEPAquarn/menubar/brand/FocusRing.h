#pragma once

#include "menubar/brand/Palette.h"

#include <QObject>
#include <QRectF>

class QPainter;
class QWidget;

namespace zq {

// The keyboard focus of a control: one ring, 2 points wide, in the focus colour, just inside `rect`
// and following its corner `radius`, parted from the control by a 1-point line of the page's colour. Every focusable
// control of the application shows its focus with this ring and nothing else, so the toolkit's own focus frames are
// never drawn.
void paintFocusRing(QPainter &painter, const QRectF &rect, qreal radius, ColorScheme scheme);

// Whether the keyboard, not the pointer, was used last in the window of `widget`. The toolkit's own
// attribute for this holds it (Tab sets it too, and a window that shows starts without it), so stock
// widgets read it through their style options.
bool keyboardMovesFocus(const QWidget &widget);
// Marks `widget`'s window as driven by the keyboard or the pointer; its focused control redraws.
void setKeyboardMovesFocus(QWidget &widget, bool keyboard);

// Whether `widget` draws its focus ring: it holds the focus and the keyboard was used last in its
// window. A click focuses a control without a ring, and focus that moves on after a click (a button
// that hides) brings none either; the next key pressed shows it, as a browser's focus-visible does.
// Text fields do not ask: they show the ring whenever they hold the focus, since that is where typing
// goes.
bool showsFocusRing(const QWidget &widget);

// Follows every window of the application: a key press marks its window as keyboard-driven, a pointer
// or touch press as pointer-driven. Installed on the application by its style.
class FocusVisibility : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace zq
