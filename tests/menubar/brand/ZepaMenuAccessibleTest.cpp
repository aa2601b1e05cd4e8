// What a screen reader is given of the drawn menu and of the field that opens it. (Read over the
// real accessibility bus, with real keys, in tests/accessibility.)
#include "menubar/brand/ZepaMenu.h"
#include "menubar/brand/ZepaMenuPicker.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QTest>

#include <gtest/gtest.h>

using zq::ZepaMenu;
using zq::ZepaMenuPicker;

TEST(ZepaMenuAccessibleTest, TheOpenMenuHangsUnderItsFieldWithOneItemPerRowThatAPressChooses)
{
    QVariant value = QStringLiteral("de");
    ZepaMenuPicker picker(QStringLiteral("Language"),
                          {[&] { return value; }, [&](const QVariant &chosen) { value = chosen; }},
                          {{QStringLiteral("auto"),
                            std::nullopt,
                            {{QStringLiteral("auto"), QStringLiteral("System language"), QStringLiteral("globe")}}},
                           {QStringLiteral("all"),
                            QStringLiteral("Languages"),
                            {{QStringLiteral("en"), QStringLiteral("English"), {}},
                             {QStringLiteral("de"), QStringLiteral("German"), {}}}}},
                          180);
    picker.show();
    QAccessibleInterface *field = QAccessible::queryAccessibleInterface(&picker);
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->state().expandable && field->state().collapsed);
    EXPECT_EQ(field->childCount(), 0);
    ASSERT_NE(field->textInterface(), nullptr) << "where screen readers read a combo box's value";
    EXPECT_EQ(field->textInterface()->text(0, field->textInterface()->characterCount()), QStringLiteral("German"));

    field->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
    ZepaMenu *menu = picker.menu();
    ASSERT_TRUE(menu && menu->isVisible());
    QAccessibleInterface *described = QAccessible::queryAccessibleInterface(menu);
    ASSERT_NE(described, nullptr);
    EXPECT_EQ(described->role(), QAccessible::PopupMenu);
    EXPECT_EQ(described->text(QAccessible::Name), QStringLiteral("Language"));
    // Under its field, where a reader walking the tree finds it (pop-ups are not the application's).
    EXPECT_TRUE(field->state().expanded);
    ASSERT_EQ(field->childCount(), 1);
    EXPECT_EQ(field->child(0), described);
    EXPECT_EQ(described->parent(), field);

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
        EXPECT_EQ(described->indexOfChild(item), i);
        EXPECT_EQ(item->role(), rows[i].role);
        EXPECT_EQ(item->text(QAccessible::Name), QString::fromUtf8(rows[i].name));
        EXPECT_EQ(bool(item->state().checked), rows[i].checked);
        EXPECT_EQ(item->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()),
                  rows[i].pressable);
        // Where it is drawn: a row of the menu, on screen.
        const QRect rect = item->rect();
        EXPECT_EQ(rect.height(), ZepaMenu::kRowHeight);
        EXPECT_EQ(described->childAt(rect.center().x(), rect.center().y()), item);
    }

    // The highlight is the focus: on the row, not on the menu around it.
    QTest::keyClick(menu, Qt::Key_Down);
    EXPECT_EQ(described->focusChild(), described->child(3));
    EXPECT_TRUE(described->child(3)->state().focused);
    EXPECT_FALSE(described->state().focused);

    described->child(2)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(value, QStringLiteral("en"));
    EXPECT_FALSE(menu->isVisible());
    EXPECT_TRUE(field->state().collapsed);
    EXPECT_EQ(field->childCount(), 0);
    EXPECT_EQ(field->text(QAccessible::Value), QStringLiteral("English"));
}
