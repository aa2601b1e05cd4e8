#include "menubar/brand/ZepaMenuAccessible.h"

#include "menubar/brand/ZepaMenu.h"

#include <QAccessibleActionInterface>
#include <QAction>
#include <QPointer>
#include <QWindow>

namespace zq {

namespace {

// One row of the menu. Its object is the row's action, so Qt drops it when the action goes.
class ZepaMenuItemAccessible final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    ZepaMenuItemAccessible(ZepaMenu *menu, QAction *action) : m_menu(menu), m_action(action) {}

    bool isValid() const override { return m_menu && m_action && index() >= 0; }
    QObject *object() const override { return m_action; }
    QWindow *window() const override { return m_menu ? m_menu->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_menu.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString &) override {}

    QAccessible::Role role() const override
    {
        return m_action && m_action->isSeparator() ? QAccessible::Separator : QAccessible::MenuItem;
    }

    QString text(QAccessible::Text kind) const override
    {
        return isValid() && kind == QAccessible::Name ? m_action->text() : QString();
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect row = m_menu->rowRect(index()).intersected(m_menu->rect());
        return row.isEmpty() ? QRect() : QRect(m_menu->mapToGlobal(row.topLeft()), row.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.invisible = !m_menu->isVisible();
        state.offscreen = rect().isEmpty();
        if (m_action->isSeparator())
            return state;
        state.disabled = !m_action->isEnabled();
        state.focusable = m_action->isEnabled();
        state.focused = m_menu->isActiveWindow() && m_menu->highlighted() == index();
        state.checkable = m_action->isCheckable();
        state.checked = m_action->isChecked();
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }

    QStringList actionNames() const override
    {
        if (!isValid() || m_action->isSeparator() || !m_action->isEnabled())
            return {};
        return {pressAction()};
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }
    void doAction(const QString &name) override
    {
        if (name == pressAction() && actionNames().contains(name))
            m_menu->choose(index());
    }

private:
    int index() const { return m_menu && m_action ? int(m_menu->actions().indexOf(m_action)) : -1; }

    QPointer<ZepaMenu> m_menu;
    QPointer<QAction> m_action;
};

QAccessibleInterface *zepaMenuFactory(const QString &, QObject *object)
{
    if (auto *menu = qobject_cast<ZepaMenu *>(object))
        return new ZepaMenuAccessible(menu);
    return nullptr;
}

} // namespace

ZepaMenuAccessible::ZepaMenuAccessible(ZepaMenu *menu) : QAccessibleWidget(menu, QAccessible::PopupMenu) {}

ZepaMenu *ZepaMenuAccessible::menu() const
{
    return static_cast<ZepaMenu *>(widget());
}

QAccessible::State ZepaMenuAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    // While a row is highlighted, that row reads as focused, not the menu around it.
    if (menu()->highlighted())
        state.focused = false;
    return state;
}

QAccessibleInterface *ZepaMenuAccessible::parent() const
{
    if (QWidget *field = menu()->parentWidget())
        return QAccessible::queryAccessibleInterface(field);
    return QAccessibleWidget::parent();
}

int ZepaMenuAccessible::childCount() const
{
    return int(menu()->actions().size());
}

QAccessibleInterface *ZepaMenuAccessible::child(int index) const
{
    QAction *action = menu()->actions().value(index);
    if (!action)
        return nullptr;
    if (QAccessibleInterface *known = QAccessible::queryAccessibleInterface(action))
        return known;
    auto *item = new ZepaMenuItemAccessible(menu(), action);
    QAccessible::registerAccessibleInterface(item);
    return item;
}

int ZepaMenuAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    return child ? int(menu()->actions().indexOf(qobject_cast<QAction *>(child->object()))) : -1;
}

QAccessibleInterface *ZepaMenuAccessible::childAt(int x, int y) const
{
    const auto row = menu()->rowAt(menu()->mapFromGlobal(QPointF(x, y)));
    return row ? child(*row) : nullptr;
}

QAccessibleInterface *ZepaMenuAccessible::focusChild() const
{
    const auto highlighted = menu()->highlighted();
    return highlighted && menu()->isActiveWindow() ? child(*highlighted) : nullptr;
}

void installZepaMenuAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(&zepaMenuFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace zq
