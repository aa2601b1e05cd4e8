// The tray panel as a screen reader meets it: the real application in a tray host, its panel opened
// from the tray icon and read from another process over the accessibility bus of the application's
// session. The panel and its menus are pop-up windows, which are not among the application's
// children: a reader finds them as it finds any pop-up, from the object that takes the focus up to
// its window, and the panel gives its first control the focus as it opens. The Language picker's drawn menu is opened
// and walked with the keyboard.
#include "pipeline/LanguageCatalogue.h"
#include "pipeline/SettingsDefaults.h"
#include "support/AccessibilityBus.h"
#include "support/DesktopDriver.h"
#include "support/E2EEnvironment.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/ViewRender.h"

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;
using zq::test::AccessibilityEventListener;
using zq::test::AccessibleNode;

namespace {

const QString kButton = QStringLiteral("push button");
const QString kComboBox = QStringLiteral("combo box");
const QString kMenuItem = QStringLiteral("menu item");
const QString kPopupMenu = QStringLiteral("popup menu");

class PanelAccessibilityE2ETest : public ::testing::Test {
protected:
    zq::test::DesktopDriver desktop() const { return zq::test::DesktopDriver(env->display()); }

    // Presses `key` and waits until an object named `name` (of `role`) takes the focus; what the
    // reader heard, with the window the object is in.
    std::optional<AccessibilityEventListener::Event> focusAfter(const QString &key, const QString &role,
                                                                const QString &name = {})
    {
        if (!key.isEmpty()) {
            EXPECT_TRUE(desktop().keys({key})) << key.toStdString();
        }
        AccessibilityEventListener::Event heard;
        const bool found = focus.waitFor(
            [&](const AccessibilityEventListener::Event &event) {
                return event.detail1 == 1 && event.sourceRole == role && (name.isEmpty() || event.sourceName == name) &&
                       event.window;
            },
            &heard);
        EXPECT_TRUE(found) << "no focus on " << role.toStdString() << " '" << name.toStdString() << "' after "
                           << key.toStdString() << "; " << focus.heard().toStdString();
        return found ? std::optional(heard) : std::nullopt;
    }

    std::unique_ptr<zq::test::E2EEnvironment> env;
    zq::test::AccessibilityBus bus;
    AccessibilityEventListener focus;
};

} // namespace

TEST_F(PanelAccessibilityE2ETest, ThePanelsControlsAndItsLanguageMenuReadAsTheyShow)
{
    env = std::make_unique<zq::test::E2EEnvironment>(zq::test::Microphone::Live);
    if (!zq::test::requireService(env->start(), env->errorString()))
        return;
    // On the application's session bus before it starts, as a screen reader already running.
    ASSERT_TRUE(bus.start(env->bus().address(), env->display())) << bus.errorString().toStdString();
    // The OpenAI engine: its 57 languages make the menu long enough to scroll.
    ASSERT_TRUE(env->writeSettings({{QString::fromLatin1(zq::keys::backend), QStringLiteral("openai")}}));
    ASSERT_TRUE(env->startApp()) << env->errorString().toStdString();
    ASSERT_TRUE(focus.start(QStringLiteral("object:state-changed:focused"), env->appPid(), bus,
                            AccessibilityEventListener::Window::read))
        << focus.errorString().toStdString();
    const QRect panel = desktop().openPanel();
    ASSERT_TRUE(panel.isValid()) << env->appLogTail().toStdString();

    // Opened by a click, the panel takes the keyboard at once: its first control that takes it (with
    // no transcript yet, Copy Last is off and the recap is first) tells the reader it has the focus.
    const auto first = focusAfter({}, kButton);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->sourceName.startsWith(QStringLiteral("This week, WEEK "))) << first->sourceName.toStdString();
    ASSERT_TRUE(first->window->focused());
    EXPECT_EQ(first->window->focused()->name, first->sourceName);
    // Tab goes on from there.
    const auto next = focusAfter(QStringLiteral("Tab"), kComboBox, QStringLiteral("Language"));
    ASSERT_TRUE(next);
    const AccessibleNode &window = *next->window;
    struct Control {
        QString role;
        QString name;
        QString text; // what a combo box reads as its value
    };
    const Control controls[] = {
        {kButton, QStringLiteral("Copy Last"), {}},
        {kComboBox, QStringLiteral("Language"), QStringLiteral("System language")},
        {kComboBox, QStringLiteral("Microphone"), QStringLiteral("Automatic")},
        {kButton, QStringLiteral("Open ZEPA QUARN…"), {}},
        {kButton, QStringLiteral("Quit ZEPA QUARN"), {}},
    };
    for (const Control &control : controls) {
        SCOPED_TRACE(control.name.toStdString());
        const AccessibleNode *found = window.findNamed(control.role, control.name);
        ASSERT_TRUE(found);
        EXPECT_TRUE(panel.contains(found->extents.center())) << "on the panel, where it is drawn";
        EXPECT_EQ(found->text, control.text);
        if (control.role == kComboBox) {
            EXPECT_TRUE(found->has(QStringLiteral("collapsed"))) << found->states.join(',').toStdString();
            EXPECT_TRUE(found->actions.contains(QStringLiteral("ShowMenu")));
        }
    }
    // The recap is one element, read as its summary.
    const AccessibleNode *recap = window.find(
        [](const AccessibleNode &node) { return node.name.startsWith(QStringLiteral("This week, WEEK ")); });
    ASSERT_TRUE(recap);
    EXPECT_EQ(recap->role, kButton);
    EXPECT_TRUE(recap->children.isEmpty());
    EXPECT_TRUE(recap->name.contains(QStringLiteral("words spoken"))) << recap->name.toStdString();

    // The Language menu, opened by a click on its field: it takes the focus, under its field.
    const AccessibleNode *language = window.findNamed(kComboBox, QStringLiteral("Language"));
    ASSERT_TRUE(desktop().click(language->extents.center()));
    const auto opened = focusAfter({}, kPopupMenu, QStringLiteral("Language"));
    ASSERT_TRUE(opened);
    zq::test::saveRender(desktop().screenshot(), QStringLiteral("desktop-panel-language-menu-accessible"));
    const AccessibleNode *field = opened->window->findNamed(kComboBox, QStringLiteral("Language"));
    ASSERT_TRUE(field);
    EXPECT_TRUE(field->has(QStringLiteral("expanded")));
    ASSERT_EQ(field->children.size(), 1);
    const AccessibleNode &menu = field->children.front();
    EXPECT_EQ(menu.role, kPopupMenu);
    QStringList expected{QStringLiteral("System language")};
    for (const zq::Language &entry : zq::openAILanguages())
        expected << entry.displayName;
    QStringList names;
    QStringList checked;
    for (const AccessibleNode &item : menu.children) {
        EXPECT_EQ(item.role, kMenuItem) << item.name.toStdString();
        names << item.name;
        if (item.has(QStringLiteral("checked")))
            checked << item.name;
    }
    EXPECT_EQ(names, expected) << "every language, also those scrolled out of view";
    EXPECT_EQ(checked, QStringList{QStringLiteral("System language")});

    // Down highlights the current choice, then the next one: each takes the focus in turn.
    for (int step = 0; step < 2; ++step) {
        const auto moved = focusAfter(QStringLiteral("Down"), kMenuItem, expected[step]);
        ASSERT_TRUE(moved) << "step " << step;
        const AccessibleNode *focused = moved->window->focused();
        ASSERT_TRUE(focused);
        EXPECT_EQ(focused->name, expected[step]);
    }
    // Escape closes the menu, keeps the choice and gives the focus back to the field.
    const auto back = focusAfter(QStringLiteral("Escape"), kComboBox, QStringLiteral("Language"));
    ASSERT_TRUE(back);
    field = back->window->findNamed(kComboBox, QStringLiteral("Language"));
    ASSERT_TRUE(field);
    EXPECT_TRUE(field->has(QStringLiteral("collapsed")));
    EXPECT_TRUE(field->children.isEmpty());
    EXPECT_EQ(field->text, QStringLiteral("System language"));
    ASSERT_TRUE(desktop().keys({QStringLiteral("Escape")}));
    EXPECT_TRUE(zq::test::waitFor([&] { return desktop().visiblePanel().isEmpty(); }, 5s, 50ms));
    EXPECT_TRUE(env->stopApp());
}
