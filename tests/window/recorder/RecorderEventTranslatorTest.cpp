// The recorder window's own events in the key space of the global trigger.
#include "window/recorder/RecorderEventTranslator.h"
#include "pipeline/TriggerKey.h"
#include "platform/linux/x11/X11KeyCodes.h"
#include "support/FakePermissionProbe.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

using zq::RecorderEventTranslator;
using zq::TriggerEventType;
namespace Flag = zq::ModifierFlag;
namespace Code = zq::KeyCode;

namespace {

// X key codes of an evdev keyboard, named as the X server names their places.
constexpr std::uint32_t kXLeftShift = 50, kXRightShift = 62, kXLeftControl = 37, kXSpace = 65, kXA = 38, kXFn = 151;

zq::platform::KeyboardMap pcKeyboard()
{
    zq::platform::KeyboardMap map = zq::test::FakePermissionProbe::keyboardWithFn(true);
    const std::pair<std::uint32_t, const char *> places[] = {
        {kXLeftShift, "LFSH"}, {kXRightShift, "RTSH"}, {kXLeftControl, "LCTL"}, {kXSpace, "SPCE"}, {kXA, "AC01"}};
    for (const auto &[x, name] : places)
        map.logicalCodes[x] = *zq::platform::x11::logicalKeyCode(name);
    map.logicalCodes[kXFn] = Code::function;
    return map;
}

QKeyEvent key(QEvent::Type type, int qtKey, std::uint32_t xCode, Qt::KeyboardModifiers held = {},
              const QString &text = {}, bool repeat = false)
{
    return QKeyEvent(type, qtKey, held, xCode, 0, 0, text, repeat);
}

QMouseEvent mouse(Qt::MouseButton button)
{
    return QMouseEvent(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), button, button, Qt::NoModifier);
}

TEST(RecorderEventTranslatorTest, ModifierKeysBecomeFlagChangesThatTellLeftFromRight)
{
    RecorderEventTranslator translator(pcKeyboard());
    auto leftDown = translator.translate(key(QEvent::KeyPress, Qt::Key_Shift, kXLeftShift));
    ASSERT_TRUE(leftDown);
    EXPECT_EQ(leftDown->type, TriggerEventType::flagsChanged);
    EXPECT_EQ(leftDown->keyCode, Code::leftShift);
    EXPECT_EQ(leftDown->flags, Flag::shift | Flag::leftShiftKey);

    auto rightDown = translator.translate(key(QEvent::KeyPress, Qt::Key_Shift, kXRightShift, Qt::ShiftModifier));
    ASSERT_TRUE(rightDown);
    EXPECT_EQ(rightDown->keyCode, Code::rightShift);
    EXPECT_EQ(rightDown->flags, Flag::shift | Flag::leftShiftKey | Flag::rightShiftKey);

    EXPECT_FALSE(translator.translate(key(QEvent::KeyPress, Qt::Key_Shift, kXRightShift, Qt::ShiftModifier, {}, true)))
        << "a modifier's repeat is no change";
    auto leftUp = translator.translate(key(QEvent::KeyRelease, Qt::Key_Shift, kXLeftShift, Qt::ShiftModifier));
    ASSERT_TRUE(leftUp);
    EXPECT_EQ(leftUp->flags, Flag::shift | Flag::rightShiftKey) << "Qt still reports Shift; the keys decide";
    EXPECT_FALSE(translator.translate(key(QEvent::KeyRelease, Qt::Key_Shift, kXLeftShift)))
        << "a release never seen pressed";

    auto fn = translator.translate(key(QEvent::KeyPress, 0, kXFn));
    ASSERT_TRUE(fn);
    EXPECT_EQ(fn->type, TriggerEventType::flagsChanged);
    EXPECT_EQ(fn->flags & Flag::function, Flag::function);
}

TEST(RecorderEventTranslatorTest, KeysCarryTheModifiersHeldAndTheirOwnText)
{
    RecorderEventTranslator translator(pcKeyboard());
    translator.translate(key(QEvent::KeyPress, Qt::Key_Control, kXLeftControl));
    auto space = translator.translate(key(QEvent::KeyPress, Qt::Key_Space, kXSpace, Qt::ControlModifier, " "));
    ASSERT_TRUE(space);
    EXPECT_EQ(space->type, TriggerEventType::keyDown);
    EXPECT_EQ(space->keyCode, 49);
    EXPECT_EQ(space->flags, Flag::control | Flag::leftControlKey);
    EXPECT_FALSE(space->isAutoRepeat);

    // Control typed "\x01" for A: the name comes from the key, not the text.
    auto a = translator.translate(key(QEvent::KeyPress, Qt::Key_A, kXA, Qt::ControlModifier, "\x01"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->characters, QStringLiteral("a"));
    auto repeat = translator.translate(key(QEvent::KeyPress, Qt::Key_A, kXA, Qt::ControlModifier, "\x01", true));
    ASSERT_TRUE(repeat);
    EXPECT_TRUE(repeat->isAutoRepeat);
    EXPECT_FALSE(translator.translate(key(QEvent::KeyRelease, Qt::Key_A, kXA, Qt::ControlModifier, {}, true)));
    auto up = translator.translate(key(QEvent::KeyRelease, Qt::Key_A, kXA, Qt::ControlModifier));
    ASSERT_TRUE(up);
    EXPECT_EQ(up->type, TriggerEventType::keyUp);

    // A modifier already down when recording began is known from the event alone.
    RecorderEventTranslator fresh(pcKeyboard());
    auto held = fresh.translate(key(QEvent::KeyPress, Qt::Key_A, kXA, Qt::AltModifier | Qt::MetaModifier));
    ASSERT_TRUE(held);
    EXPECT_EQ(held->flags, Flag::option | Flag::command);

    // Without a keyboard map (no X11) keys still differ from each other, outside the named codes.
    RecorderEventTranslator blind;
    auto unknown = blind.translate(key(QEvent::KeyPress, Qt::Key_A, kXA));
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->keyCode, zq::platform::x11::unmappedKeyCode(int(kXA)));
}

TEST(RecorderEventTranslatorTest, SideButtonsAreNumberedAsTheGlobalTriggerNumbersThem)
{
    RecorderEventTranslator translator;
    EXPECT_FALSE(translator.translate(mouse(Qt::LeftButton)));
    EXPECT_FALSE(translator.translate(mouse(Qt::RightButton)));
    auto middle = translator.translate(mouse(Qt::MiddleButton));
    ASSERT_TRUE(middle);
    EXPECT_EQ(middle->type, TriggerEventType::otherMouseDown);
    EXPECT_EQ(middle->buttonNumber, *zq::platform::x11::logicalMouseButton(2));
    // Qt gives X buttons 8 and up one bit each, from the back button on.
    for (int xButton = 8; xButton < 16; ++xButton) {
        const auto qtButton = Qt::MouseButton(int(Qt::BackButton) << (xButton - 8));
        EXPECT_EQ(RecorderEventTranslator::logicalMouseButton(int(qtButton)),
                  zq::platform::x11::logicalMouseButton(xButton))
            << "X button " << xButton;
    }
}

} // namespace
