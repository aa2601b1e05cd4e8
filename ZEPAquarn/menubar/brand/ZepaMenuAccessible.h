#pragma once

#include <QAccessibleWidget>

namespace zq {

class ZepaMenu;

// What screen readers see of the drawn menu, as they saw the toolkit's: a pop-up menu with one item
// per row. A choice is a menu item named with its text, checked while it is the current choice,
// focused while the highlight stands on it, which they can press to choose it; a section's title is
// a separator named with the title. The items stand for the menu's actions and go with them. The
// menu's parent is the field that opened it (a pop-up window is not the application's child).
class ZepaMenuAccessible final : public QAccessibleWidget {
public:
    explicit ZepaMenuAccessible(ZepaMenu *menu);

    QAccessible::State state() const override;
    QAccessibleInterface *parent() const override;
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *focusChild() const override;

private:
    ZepaMenu *menu() const;
};

// Makes Qt describe every brand menu with ZepaMenuAccessible. Once per process; later calls do nothing.
void installZepaMenuAccessibility();

} // namespace zq
