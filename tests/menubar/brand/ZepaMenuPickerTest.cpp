#include "menubar/brand/ZepaMenuPicker.h"
#include "menubar/brand/ZepaMenu.h"
#include "support/ViewRender.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

using zq::ColorScheme;
using zq::Palette;
using zq::ZepaMenuPicker;
using zq::ZepaMenuPickerField;
using zq::ZepaMenuPickerSection;

namespace {

struct PickerTest : testing::Test {
    QVariant value = QStringLiteral("de");
    int writes = 0;

    zq::ZepaMenuPickerBinding binding()
    {
        return {[this] { return value; },
                [this](const QVariant &chosen) {
                    value = chosen;
                    ++writes;
                }};
    }

    static QList<ZepaMenuPickerSection> languages()
    {
        return {{QStringLiteral("auto"),
                 std::nullopt,
                 {{QStringLiteral("auto"), QStringLiteral("System language"), QStringLiteral("globe")}}},
                {QStringLiteral("all"),
                 QStringLiteral("Languages"),
                 {{QStringLiteral("en"), QStringLiteral("English"), {}},
                  {QStringLiteral("de"), QStringLiteral("German"), QStringLiteral("globe")},
                  // A second option with the same value never becomes current: the first wins.
                  {QStringLiteral("de"), QStringLiteral("Deutsch"), {}}}}};
    }
};

QList<QAction *> optionActions(zq::ZepaMenu *menu)
{
    QList<QAction *> options;
    for (QAction *action : menu->actions()) {
        if (!action->isSeparator())
            options << action;
    }
    return options;
}

} // namespace

TEST_F(PickerTest, TheCurrentOptionIsTheFirstMatchAndNoMatchReadsChoose)
{
    ZepaMenuPicker picker(QStringLiteral("Language"), binding(), languages(), 180);
    EXPECT_EQ(picker.currentLabel(), QStringLiteral("German"));
    value = QStringLiteral("xx");
    EXPECT_EQ(picker.currentLabel(), QStringLiteral("Choose…"));
    EXPECT_FALSE(picker.currentOption().has_value());
    EXPECT_EQ(value, QStringLiteral("xx")); // reading never writes

    picker.setSections({});
    EXPECT_EQ(picker.currentLabel(), QStringLiteral("Choose…"));
    EXPECT_TRUE(picker.buildMenu()->actions().isEmpty());
    picker.setSections(
        {{QStringLiteral("empty"), QStringLiteral("Nothing"), {}}, {QStringLiteral("none"), std::nullopt, {}}});
    EXPECT_EQ(picker.currentLabel(), QStringLiteral("Choose…"));
    EXPECT_TRUE(optionActions(picker.buildMenu()).isEmpty());
}

TEST_F(PickerTest, TheMenuGroupsTitledSectionsAndChecksTheCurrentOption)
{
    ZepaMenuPicker picker(QStringLiteral("Language"), binding(), languages(), 180);
    zq::ZepaMenu *menu = picker.buildMenu();
    const QList<QAction *> actions = menu->actions();
    // The untitled section adds its option with no header; the titled one starts with its header.
    ASSERT_EQ(actions.size(), 5);
    EXPECT_FALSE(actions[0]->isSeparator());
    EXPECT_EQ(actions[0]->text(), QStringLiteral("System language"));
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[1]->text(), QStringLiteral("Languages"));

    // Own symbol when not current, none without one, the checkmark (instead of its own) when current.
    EXPECT_FALSE(actions[0]->icon().isNull());
    EXPECT_TRUE(actions[2]->icon().isNull());
    EXPECT_FALSE(actions[3]->icon().isNull());
    EXPECT_FALSE(actions[4]->icon().isNull()); // its value equals the binding's too
    const QImage check = actions[3]->icon().pixmap(14, 14).toImage();
    const QImage globe = actions[0]->icon().pixmap(14, 14).toImage();
    EXPECT_NE(check, globe);

    // Choosing writes the value into the binding, once, and nothing else.
    actions[2]->trigger();
    EXPECT_EQ(value, QStringLiteral("en"));
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(picker.currentLabel(), QStringLiteral("English"));
    zq::ZepaMenu *reopened = picker.buildMenu();
    EXPECT_FALSE(optionActions(reopened)[1]->icon().isNull());

    // A field in a dark window opens a dark menu, though the menu is a window of its own.
    QPalette dark = picker.palette();
    dark.setColor(QPalette::Window, QColor(0x14, 0x14, 0x17));
    picker.setPalette(dark);
    EXPECT_EQ(zq::colorSchemeOf(*picker.buildMenu()), ColorScheme::dark);
}

TEST_F(PickerTest, TheFieldHasItsExactSizeAndOpensFromTheKeyboardOnlyWhileEnabled)
{
    ZepaMenuPicker regular(QStringLiteral("Language"), binding(), languages(), 180, QStringLiteral("globe"));
    EXPECT_EQ(regular.size(), QSize(180, 34));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&regular);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Language"));
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("German"));
    ZepaMenuPicker compact(QStringLiteral("Microphone"), binding(), languages(), 290, {}, true);
    EXPECT_EQ(compact.size(), QSize(290, 28));

    regular.show();
    regular.setFocus();
    QTest::keyClick(&regular, Qt::Key_Space);
    ASSERT_NE(regular.menu(), nullptr);
    EXPECT_TRUE(regular.menu()->isVisible());
    regular.menu()->close();

    compact.setEnabled(false);
    compact.openMenu();
    EXPECT_EQ(compact.menu(), nullptr);
}

namespace {

QImage renderField(const ZepaMenuPickerField &field, QSizeF size, qreal ratio = 1.0)
{
    return zq::test::renderPaint(
        size, [&](QPainter &painter, const QRectF &rect) { ZepaMenuPicker::paintField(painter, rect, field); }, ratio,
        Palette::color(Palette::background, field.scheme));
}

} // namespace

TEST(ZepaMenuPickerRenderTest, EachLookShowsItsFillBorderAndOpacity)
{
    const QSizeF size(180, 34);
    for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        const QColor page = Palette::color(Palette::background, scheme);
        const QColor fill = Palette::color(Palette::controlFill, scheme);
        const QColor hover = Palette::color(Palette::controlHover, scheme);
        const QColor accent = Palette::color(Palette::accent, scheme);
        const QString suffix = scheme == ColorScheme::dark ? QStringLiteral("-dark") : QStringLiteral("-light");
        ZepaMenuPickerField field;
        field.label = QStringLiteral("English");
        field.leadingSystemImage = QStringLiteral("globe");
        field.scheme = scheme;

        const QImage normal = renderField(field, size, 2.0);
        zq::test::saveRender(normal, QStringLiteral("picker-normal") + suffix);
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(normal, {90, 4}), fill));
        // The border is a 1-point hairline inside the edge.
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(normal, {0.25, 17}),
                                        zq::test::over(Palette::color(Palette::hairline, scheme), fill), 3));
        // The leading symbol in accent, the label in the primary text colour, the chevron at the end.
        EXPECT_FALSE(zq::test::colorBounds(normal.copy(QRect(20, 0, 28, 68)), accent, 10).isEmpty());
        const QRectF chevron = zq::test::colorBounds(normal.copy(QRect(240, 0, 120, 68)),
                                                     Palette::color(Palette::textTertiary, scheme), 12);
        ASSERT_FALSE(chevron.isEmpty());
        EXPECT_GT(chevron.left() + 120, 180 - 8 - 9 - 1);
        EXPECT_LT(chevron.right() + 120, 180 - 8 + 1);

        field.hover = 1;
        field.focused = true;
        const QImage focused = renderField(field, size, 2.0);
        zq::test::saveRender(focused, QStringLiteral("picker-focused-hovered") + suffix);
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(focused, {90, 4}), hover));
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(focused, {0.5, 17}), accent, 3));
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(focused, {1.5, 17}), accent, 3));
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(focused, {2.5, 17}), hover, 3));

        field.hover = 0;
        field.focused = false;
        field.enabled = false;
        const QImage disabled = renderField(field, size, 2.0);
        zq::test::saveRender(disabled, QStringLiteral("picker-disabled") + suffix);
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(disabled, {90, 4}),
                                        zq::test::over(QColor(fill.red(), fill.green(), fill.blue(), 128), page), 3));
    }
}

TEST(ZepaMenuPickerRenderTest, ALongLabelIsCutBeforeTheChevronAndCompactChangesOnlyTheHeight)
{
    ZepaMenuPickerField field;
    field.label = QStringLiteral("A microphone with a very long name that cannot fit the field");
    field.compact = true;
    const QImage image = renderField(field, QSizeF(180, 28), 2.0);
    zq::test::saveRender(image, QStringLiteral("picker-compact-long"));
    const QColor ink = Palette::color(Palette::textPrimary, zq::ColorScheme::light);
    const QRectF text = zq::test::colorBounds(image, ink, 60);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_NEAR(text.left(), 10, 1.5);
    // At least 8 points stand between the label's end and the chevron.
    EXPECT_LE(text.right(), 180 - 8 - 9 - 8 + 0.5);
    EXPECT_NEAR(text.center().y(), 14, 2);
}

TEST(ZepaMenuPickerRenderTest, AFieldOfTheFittingWidthShowsItsLabelWhole)
{
    // "System language" is the longest label of the tray's Language field.
    ZepaMenuPickerField field;
    field.label = QStringLiteral("System language");
    field.leadingSystemImage = QStringLiteral("globe");
    field.compact = true;
    const qreal fitting = ZepaMenuPicker::fittingWidth({QStringLiteral("German"), field.label}, true);
    EXPECT_GT(fitting, 126) << "the designed 126 points cut it";
    const QColor ink = Palette::color(Palette::textPrimary, ColorScheme::light);
    // Left of where the fitting field's chevron starts.
    const QRect label(0, 0, int(fitting) - 8 - 9 - 4, 28);
    const auto labelInk = [&](qreal width) {
        const QImage image = renderField(field, QSizeF(width, 28)).copy(label);
        const QRectF text = zq::test::colorBounds(image, ink, 60);
        return image.copy(text.toAlignedRect());
    };
    const QImage wide = labelInk(300);
    zq::test::saveRender(renderField(field, QSizeF(fitting, 28)), QStringLiteral("picker-fitting-width"));
    EXPECT_EQ(labelInk(fitting), wide) << "the same glyphs as in a field with room to spare";
    EXPECT_NE(labelInk(fitting - 8), wide) << "narrower, it is cut";
}
