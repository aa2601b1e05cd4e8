#include "menubar/brand/ZepaMenuPickerAccessible.h"

#include "menubar/brand/ZepaMenu.h"
#include "menubar/brand/ZepaMenuPicker.h"

#include <QAccessibleWidget>

namespace zq {

namespace {

// Read out as one pop-up control: its title as the name, the current choice as its value and as its
// (read-only) text, which is where screen readers on Linux look for a combo box's value. It says
// that it opens a menu, whether that menu is open, and opens it when pressed. The open menu is its
// child: Qt leaves pop-up windows out of the application's children, and a reader walking the tree
// finds the menu under the field it belongs to.
class PickerAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit PickerAccessible(ZepaMenuPicker *picker) : QAccessibleWidget(picker, QAccessible::ComboBox) {}

    int childCount() const override { return QAccessibleWidget::childCount() + (shownMenu() ? 1 : 0); }
    QAccessibleInterface *child(int index) const override
    {
        if (index == QAccessibleWidget::childCount() && shownMenu())
            return QAccessible::queryAccessibleInterface(shownMenu());
        return QAccessibleWidget::child(index);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (child && shownMenu() && child->object() == shownMenu())
            return QAccessibleWidget::childCount();
        return QAccessibleWidget::indexOfChild(child);
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return value();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.hasPopup = true;
        state.expandable = true;
        state.expanded = shownMenu() != nullptr;
        state.collapsed = !state.expanded;
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QStringList actionNames() const override
    {
        if (!picker()->isEnabled())
            return QAccessibleWidget::actionNames();
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &name) override
    {
        if (name == showMenuAction() || name == pressAction())
            picker()->openMenu();
        else
            QAccessibleWidget::doAction(name);
    }

    // The value as text: whole, read-only, with no caret and no selection.
    QString text(int start, int end) const override { return value().mid(start, end - start); }
    int characterCount() const override { return int(value().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    void selection(int, int *start, int *end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *start, int *end) const override
    {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    ZepaMenuPicker *picker() const { return static_cast<ZepaMenuPicker *>(widget()); }
    ZepaMenu *shownMenu() const
    {
        return picker()->menu() && picker()->menu()->isVisible() ? picker()->menu() : nullptr;
    }
    QString value() const { return picker()->currentLabel(); }
};

QAccessibleInterface *pickerFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("zq::ZepaMenuPicker") && object && object->isWidgetType())
        return new PickerAccessible(static_cast<ZepaMenuPicker *>(object));
    return nullptr;
}

} // namespace

void installZepaMenuPickerAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(&pickerFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace zq
