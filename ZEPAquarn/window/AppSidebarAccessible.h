#pragma once

#include <QAccessibleWidget>

#include <array>

namespace zq {

class AppSidebar;

// What screen readers see of the drawn sidebar: a list of the sections, each an item named with its
// title, selected while its page shows, which they can press to open that page. The Support item says
// what its dots say.
class AppSidebarAccessible final : public QAccessibleWidget {
public:
    explicit AppSidebarAccessible(AppSidebar *sidebar);
    ~AppSidebarAccessible() override;

    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *focusChild() const override;

private:
    std::array<QAccessibleInterface *, 8> m_sections{};
};

// Makes Qt describe every sidebar with AppSidebarAccessible. Once per process.
void installAppSidebarAccessibility();

} // namespace zq
