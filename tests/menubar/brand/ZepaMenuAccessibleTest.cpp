// What a screen reader is given of the drawn menu and of the field that opens it.
#include "menubar/brand/ZepaMenu.h"
#include "menubar/brand/ZepaMenuPicker.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QTest>

#include <gtest/gtest.h>

using zq::ZepaMenu;
using zq::ZepaMenuPicker;

namespace {

struct MenuAccessibleTest : testing::Test {
    QVariant value = QStringLiteral("de");

    ZepaMenuPicker picker{QStringLiteral("Language"),
                          {[this] { return value; }, [this](const QVariant &chosen) { value = chosen; }},
                          {{QStringLiteral("auto"),
                            std::nullopt,
                            {{QStringLiteral("auto"), QStringLiteral("System language"), QStringLiteral("globe")}}},
                           {QStringLiteral("all"),
                            QStringLiteral("Languages"),
                            {{QStringLiteral("en"), QStringLiteral("English"), {}},
                             {QStringLiteral("de"), QStringLiteral("German"), {}}}}},
                          180};
};

} // namespace

TEST_F(MenuAccessibleTest, EachRowIsAnItemNamedWithItsTextAndTheCurrentChoiceIsChecked)
{
    picker.show();
    picker.openMenu();
    ZepaMenu *menu = picker.menu();
    ASSERT_NE(menu, nullptr);
    QAccessibleInterface *described = QAccessible::queryAccessibleInterface(menu);
    ASSERT_NE(described, nullptr);
    EXPECT_EQ(described->role(), QAccessible::PopupMenu);
    // Under its field, where a reader walking the tree finds it (pop-ups are not the application's).
    QAccessibleInterface *field = QAccessible::queryAccessibleInterface(&picker);
    ASSERT_EQ(field->childCount(), 1);
    EXPECT_EQ(field->child(0), described);
    EXPECT_EQ(field->indexOfChild(described), 0);
    EXPECT_EQ(described->parent(), field);
    EXPECT_EQ(described->text(QAccessible::Name), QStringLiteral("Language"));

    struct Row {
        QAccessible::Role role;
        const char *name;
        bool checked;
        bool pressable;
    };
    const Row rows[] = {
        {QAccessible::MenuItem, "System language", false, true},
        {QAccessible::Separator, "Languages", false, false},
        {QAccessible::MenuItem, "English", false, true},
        {QAccessible::MenuItem, "German", true, true},
    };
    ASSERT_EQ(described->childCount(), int(std::size(rows)));
    for (int i = 0; i < described->childCount(); ++i) {
        SCOPED_TRACE(rows[i].name);
        QAccessibleInterface *item = described->child(i);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item, described->child(i)) << "one object per row, kept";
        EXPECT_EQ(item->parent(), described);
        EXPECT_EQ(described->indexOfChild(item), i);
        EXPECT_EQ(item->role(), rows[i].role);
        EXPECT_EQ(item->text(QAccessible::Name), QString::fromUtf8(rows[i].name));
        EXPECT_EQ(bool(item->state().checked), rows[i].checked);
        EXPECT_FALSE(item->state().focused);
        EXPECT_EQ(item->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()),
                  rows[i].pressable);
        // Where it is drawn: a row of the menu, on screen.
        const QRect rect = item->rect();
        EXPECT_EQ(rect.height(), ZepaMenu::kRowHeight);
        EXPECT_TRUE(menu->geometry().contains(rect.center()));
        EXPECT_EQ(described->childAt(rect.center().x(), rect.center().y()), item);
    }
}

TEST_F(MenuAccessibleTest, FocusFollowsTheHighlightAndPressingAnItemChoosesIt)
{
    picker.show();
    QAccessibleInterface *field = QAccessible::queryAccessibleInterface(&picker);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->role(), QAccessible::ComboBox);
    EXPECT_TRUE(field->state().expandable);
    EXPECT_TRUE(field->state().collapsed);
    ASSERT_NE(field->textInterface(), nullptr) << "where screen readers read a combo box's value";
    EXPECT_EQ(field->textInterface()->text(0, field->textInterface()->characterCount()), QStringLiteral("German"));

    // The field's own action opens the menu.
    field->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
    ZepaMenu *menu = picker.menu();
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(menu->isVisible());
    EXPECT_TRUE(field->state().expanded);
    QAccessibleInterface *described = QAccessible::queryAccessibleInterface(menu);
    ASSERT_NE(described, nullptr);
    ASSERT_EQ(described->childCount(), 4);
    EXPECT_EQ(described->focusChild(), nullptr) << "nothing is highlighted yet";

    struct Step {
        Qt::Key key;
        int focused;
    };
    // The first Down starts at the current choice; Home passes over the section's title.
    for (const Step step : {Step{Qt::Key_Down, 3}, Step{Qt::Key_Up, 2}, Step{Qt::Key_Home, 0}}) {
        QTest::keyClick(menu, step.key);
        for (int i = 0; i < described->childCount(); ++i)
            EXPECT_EQ(bool(described->child(i)->state().focused), i == step.focused) << step.key << " row " << i;
        EXPECT_EQ(described->focusChild(), described->child(step.focused));
        EXPECT_FALSE(described->state().focused) << "the row reads as focused, not the menu";
    }

    described->child(2)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(value, QStringLiteral("en"));
    EXPECT_FALSE(menu->isVisible());
    EXPECT_TRUE(field->state().collapsed);
    EXPECT_EQ(field->childCount(), 0);
    EXPECT_EQ(field->text(QAccessible::Value), QStringLiteral("English"));
}
