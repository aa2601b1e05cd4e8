#include "window/AppSidebarAccessible.h"

#include "window/AppSidebar.h"
#include "window/AppWindowSection.h"

#include <QAccessibleActionInterface>
#include <QPointer>
#include <QWindow>

#include <algorithm>

namespace zq {

namespace {

class SectionAccessible final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    SectionAccessible(AppSidebar *sidebar, int index) : m_sidebar(sidebar), m_index(index) {}

    bool isValid() const override { return !m_sidebar.isNull(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_sidebar ? m_sidebar->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_sidebar.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString &) override {}

    QString text(QAccessible::Text kind) const override
    {
        if (!m_sidebar)
            return {};
        if (kind == QAccessible::Name)
            return title(section());
        if (kind != QAccessible::Description || section() != AppWindowSection::support)
            return {};
        // The dots of the Support row.
        QStringList notes;
        if (m_sidebar->inputs().unreadIssue)
            notes << QStringLiteral("New issue details");
        if (m_sidebar->inputs().updateAvailable)
            notes << QStringLiteral("Update available");
        return notes.join(QStringLiteral(", "));
    }

    QRect rect() const override
    {
        if (!m_sidebar)
            return {};
        const QRectF row = sidebarRowRect(QRectF(m_sidebar->rect()), m_index);
        return QRect(m_sidebar->mapToGlobal(row.topLeft().toPoint()), row.size().toSize());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.invalid = m_sidebar.isNull();
        if (!m_sidebar)
            return state;
        const bool current = m_sidebar->inputs().selection == section();
        state.selectable = true;
        state.selected = current;
        state.focusable = true;
        state.focused = current && m_sidebar->hasFocus();
        state.invisible = !m_sidebar->isVisible();
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }
    void doAction(const QString &name) override
    {
        if (m_sidebar && name == pressAction())
            emit m_sidebar->sectionClicked(section());
    }

private:
    AppWindowSection section() const { return allAppWindowSections[size_t(m_index)]; }

    QPointer<AppSidebar> m_sidebar;
    const int m_index;
};

QAccessibleInterface *sidebarFactory(const QString &, QObject *object)
{
    if (auto *sidebar = qobject_cast<AppSidebar *>(object))
        return new AppSidebarAccessible(sidebar);
    return nullptr;
}

} // namespace

AppSidebarAccessible::AppSidebarAccessible(AppSidebar *sidebar) : QAccessibleWidget(sidebar, QAccessible::List)
{
    for (size_t i = 0; i < m_sections.size(); ++i) {
        m_sections[i] = new SectionAccessible(sidebar, int(i));
        QAccessible::registerAccessibleInterface(m_sections[i]);
    }
}

AppSidebarAccessible::~AppSidebarAccessible()
{
    for (QAccessibleInterface *section : m_sections)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(section));
}

int AppSidebarAccessible::childCount() const
{
    return int(m_sections.size());
}

QAccessibleInterface *AppSidebarAccessible::child(int index) const
{
    return index >= 0 && index < childCount() ? m_sections[size_t(index)] : nullptr;
}

int AppSidebarAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    for (size_t i = 0; i < m_sections.size(); ++i) {
        if (m_sections[i] == child)
            return int(i);
    }
    return -1;
}

QAccessibleInterface *AppSidebarAccessible::childAt(int x, int y) const
{
    for (QAccessibleInterface *section : m_sections) {
        if (section->rect().contains(x, y))
            return section;
    }
    return nullptr;
}

QAccessibleInterface *AppSidebarAccessible::focusChild() const
{
    auto *sidebar = static_cast<AppSidebar *>(widget());
    if (!sidebar->hasFocus())
        return nullptr;
    const auto found = std::find(allAppWindowSections.begin(), allAppWindowSections.end(), sidebar->inputs().selection);
    return child(int(std::distance(allAppWindowSections.begin(), found)));
}

void installAppSidebarAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(&sidebarFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace zq
