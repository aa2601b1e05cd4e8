#include "pipeline/TriggerBinding.h"
#include "support/TriggerTestSupport.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <random>

namespace zq {
namespace {

using namespace trigger_test;
using B = TriggerBinding;

TEST(TriggerKeyTest, rawValuesAreExactAndCaseSensitive)
{
    ASSERT_EQ(allTriggerKeys().size(), 24u);
    EXPECT_EQ(allTriggerKeys().front(), TriggerKey::fn);
    EXPECT_EQ(allTriggerKeys().back(), TriggerKey::f20);
    for (TriggerKey key : allTriggerKeys())
        EXPECT_EQ(fromRawValue<TriggerKey>(rawValue(key)), key) << rawValue(key).toStdString();

    for (const char *text : {"FN", "Fn", "F5", "f0", "f21", "right_control", "fn ", " fn", ""})
        EXPECT_EQ(fromRawValue<TriggerKey>(QString::fromLatin1(text)), std::nullopt) << text;
}

TEST(TriggerKeyTest, codesFlagsAndNames)
{
    EXPECT_EQ(keyCode(TriggerKey::fn), std::nullopt);
    EXPECT_EQ(heldFlag(TriggerKey::fn), ModifierFlag::function);
    EXPECT_EQ(keyCode(TriggerKey::rightCommand), 54);
    EXPECT_EQ(heldFlag(TriggerKey::rightCommand), ModifierFlag::command);
    EXPECT_EQ(keyCode(TriggerKey::f5), 96);
    EXPECT_EQ(keyCode(TriggerKey::f17), 64);
    EXPECT_EQ(heldFlag(TriggerKey::f5), std::nullopt);
    EXPECT_EQ(displayName(TriggerKey::f12), "F12");
    EXPECT_EQ(displayName(TriggerKey::rightOption), "Right Alt");
}

// Storage strings are user data that outlive versions: every row is what a stored text must mean.
TEST(TriggerBindingTest, decodesStorageStrings)
{
    const std::int64_t maxCode = std::numeric_limits<std::int64_t>::max();
    const std::int64_t minCode = std::numeric_limits<std::int64_t>::min();
    const struct {
        const char *text;
        std::optional<TriggerBinding> expected;
    } rows[] = {
        {"", std::nullopt},
        {"fn", B::predefined(TriggerKey::fn)},
        {"FN", std::nullopt},
        {"Fn", std::nullopt},
        {"f5", B::predefined(TriggerKey::f5)},
        {"right-command", B::predefined(TriggerKey::rightCommand)},
        // Keyboard keys.
        {"key:12:A", B::keyboard(12, "A")},
        {"key:12:", std::nullopt},
        {"key::A", std::nullopt},
        {"key:12:a:b", B::keyboard(12, "a:b")},
        {"key:+12:A", B::keyboard(12, "A")},
        {"key:007:A", B::keyboard(7, "A")},
        {"key:-3:A", B::keyboard(-3, "A")},
        {"key: 12:A", std::nullopt},
        {"key:12 :A", std::nullopt},
        {"key:+:A", std::nullopt},
        {"key:-:A", std::nullopt},
        {"key:1x:A", std::nullopt},
        {"Key:12:A", std::nullopt},
        {"key:12", std::nullopt},
        {"key:9223372036854775807:A", B::keyboard(maxCode, "A")},
        {"key:9223372036854775808:A", std::nullopt},
        {"key:-9223372036854775808:A", B::keyboard(minCode, "A")},
        {"key:-9223372036854775809:A", std::nullopt},
        {"key:99999999999999999999999999:A", std::nullopt},
        // Modifier keys: the flag must keep a bit inside the trigger mask and is stored masked.
        {"modifier:58:524288:Left Alt", B::modifier(58, ModifierFlag::option, "Left Alt")},
        {"modifier:58:524576:X", B::modifier(58, ModifierFlag::option, "X")},
        {"modifier:63:8388608:Fn", std::nullopt},
        {"modifier:58:0:X", std::nullopt},
        {"modifier:58:524288:", std::nullopt},
        {"modifier:58:-524288:X", std::nullopt},
        {"modifier:58:524288", std::nullopt},
        {"modifier:58:524288:a:b", B::modifier(58, ModifierFlag::option, "a:b")},
        // Shortcuts: modifiers that mask to nothing are accepted.
        {"shortcut:0:0:A", B::shortcut({0, 0}, "A")},
        {"shortcut:1:1048576:Super+S", B::shortcut({1, ModifierFlag::command}, "Super+S")},
        {"shortcut:1:-0:A", B::shortcut({1, 0}, "A")},
        {"shortcut:1:-1:A", std::nullopt},
        {"shortcut:1:18446744073709551615:A", B::shortcut({1, ModifierFlag::triggerMask}, "A")},
        {"shortcut:1:18446744073709551616:A", std::nullopt},
        {"shortcut:1:1048576:", std::nullopt},
        // Macros: bad strokes are skipped, fewer than two strokes is no binding.
        {"macro:1+0:X", std::nullopt},
        {"macro:1+0,junk,2+1048576:X", B::macro({{1, 0}, {2, ModifierFlag::command}}, "X")},
        {"macro:1+0+5,2+0:X", std::nullopt},
        {"macro:,,1+0,,2+0,:X", B::macro({{1, 0}, {2, 0}}, "X")},
        {"macro:1+,+0,3+0,4+8388608:X", B::macro({{3, 0}, {4, 0}}, "X")},
        {"macro:1+0,2+0:", std::nullopt},
        {"macro:1+0,2+0:a:b", B::macro({{1, 0}, {2, 0}}, "a:b")},
        {"macro::X", std::nullopt},
        // Mouse buttons: 2 and above.
        {"mouse:1", std::nullopt},
        {"mouse:", std::nullopt},
        {"mouse", std::nullopt},
        {"mouse:2", B::mouse(2)},
        {"mouse:-2", std::nullopt},
        {"mouse:2:", std::nullopt},
        {"mouse:9223372036854775807", B::mouse(maxCode)},
        // Garbage.
        {"garbage", std::nullopt},
        {":::", std::nullopt},
        {"keyboard:12:A", std::nullopt},
    };
    for (const auto &row : rows) {
        const QString text = QString::fromUtf8(row.text);
        EXPECT_EQ(TriggerBinding::fromStorageValue(text), row.expected) << '"' << row.text << '"';
    }
}

TEST(TriggerBindingTest, encodesStorageStringsAndNames)
{
    const B leftAlt = B::modifier(58, ModifierFlag::option, "Left Alt");
    EXPECT_EQ(leftAlt.storageValue(), "modifier:58:524288:Left Alt");
    EXPECT_EQ(leftAlt.displayName(), "Left Alt");

    const B save = B::shortcut({1, ModifierFlag::command}, "Super+S");
    EXPECT_EQ(save.storageValue(), "shortcut:1:1048576:Super+S");

    const B macro = B::macro({{40, ModifierFlag::command}, {8, ModifierFlag::command}}, "Macro · Super+K → Super+C");
    EXPECT_EQ(macro.storageValue(), "macro:40+1048576,8+1048576:Macro · Super+K → Super+C");
    EXPECT_EQ(macro.displayName(), "Macro · Super+K → Super+C");

    EXPECT_EQ(B::keyboard(-1, "X").storageValue(), "key:-1:X");
    EXPECT_EQ(B::predefined(TriggerKey::f5).storageValue(), "f5");
    EXPECT_EQ(B::predefined(TriggerKey::fn).displayName(), "Fn");

    EXPECT_EQ(B::mouse(3).storageValue(), "mouse:3");
    EXPECT_EQ(B::mouse(3).displayName(), "Mouse Button 4");
    EXPECT_EQ(B::mouse(2).displayName(), "Mouse Button 3");
    EXPECT_EQ(B::mouse(std::numeric_limits<std::int64_t>::max()).displayName(), "Mouse Button 9223372036854775808")
        << "the largest stored button must not overflow when counted from one";
}

TEST(TriggerBindingTest, matchesEventsByKind)
{
    const B fn = B::predefined(TriggerKey::fn);
    EXPECT_TRUE(fn.matchesPress(keyDown(0, 0)));
    EXPECT_TRUE(fn.matchesRelease(flagsChanged(56, ModifierFlag::shift, 0)));
    EXPECT_TRUE(fn.isHeld(flagsChanged(63, ModifierFlag::function, 0)));
    EXPECT_FALSE(fn.isHeld(flagsChanged(63, ModifierFlag::shift, 0)));

    const B f5 = B::predefined(TriggerKey::f5);
    EXPECT_TRUE(f5.matchesPress(keyDown(96, 0, ModifierFlag::command)));
    EXPECT_FALSE(f5.matchesPress(keyDown(97, 0)));
    EXPECT_FALSE(f5.isHeld(keyDown(96, 0, ModifierFlag::triggerMask)));

    // A shortcut is pressed only with exactly its modifiers, but released by its key whatever is held.
    const B commandK = B::shortcut({40, ModifierFlag::command}, "Super+K");
    EXPECT_TRUE(commandK.matchesPress(keyDown(40, 0, ModifierFlag::command)));
    EXPECT_TRUE(commandK.matchesPress(keyDown(40, 0, ModifierFlag::command | ModifierFlag::function)))
        << "Fn lies outside the trigger mask";
    EXPECT_FALSE(commandK.matchesPress(keyDown(40, 0, ModifierFlag::command | ModifierFlag::shift)));
    EXPECT_FALSE(commandK.matchesPress(keyDown(40, 0)));
    EXPECT_TRUE(commandK.matchesRelease(keyUp(40, 0, ModifierFlag::shift)));
    EXPECT_FALSE(commandK.matchesRelease(keyUp(41, 0, ModifierFlag::command)));

    const B macro = B::macro({{1, 0}, {2, 0}}, "M");
    EXPECT_FALSE(macro.matchesPress(keyDown(1, 0)));
    EXPECT_FALSE(macro.matchesRelease(keyUp(1, 0)));

    const B mouse = B::mouse(3);
    EXPECT_TRUE(mouse.matchesPress(mouseDown(3, 0)));
    EXPECT_FALSE(mouse.matchesPress(mouseDown(2, 0)));
    EXPECT_TRUE(mouse.matchesRelease(mouseUp(3, 0)));
}

TEST(TriggerBindingTest, modifierHeldJudgesTheBindingsOwnKeyWhenSidesAreKnown)
{
    const B leftAlt = B::modifier(KeyCode::leftOption, ModifierFlag::option, "Left Alt");
    const B rightAlt = B::predefined(TriggerKey::rightOption);
    using namespace ModifierFlag;

    // Without per-key bits the shared flag decides.
    EXPECT_TRUE(leftAlt.isHeld(flagsChanged(58, option, 0)));
    EXPECT_FALSE(leftAlt.isHeld(flagsChanged(58, shift, 0)));
    // With them, the other Alt key holding the flag does not hold this one.
    EXPECT_TRUE(leftAlt.isHeld(flagsChanged(58, option | leftOptionKey, 0)));
    EXPECT_FALSE(leftAlt.isHeld(flagsChanged(58, option | rightOptionKey, 0)));
    EXPECT_TRUE(rightAlt.isHeld(flagsChanged(61, option | leftOptionKey | rightOptionKey, 0)));
    EXPECT_FALSE(rightAlt.isHeld(flagsChanged(61, option | leftOptionKey, 0)));
    // Per-key bits of another modifier say nothing about Alt.
    EXPECT_TRUE(leftAlt.isHeld(flagsChanged(58, option | shift | rightShiftKey, 0)));
    // A stored binding whose flag is not its key's own modifier keeps the plain flag test.
    const B odd = B::modifier(KeyCode::leftOption, command, "odd");
    EXPECT_TRUE(odd.isHeld(flagsChanged(58, command | rightCommandKey, 0)));
}

TriggerEvent recorded(TriggerEventType type, std::int64_t code, std::uint64_t flags, QString characters = {},
                      bool repeat = false, std::int64_t button = 0)
{
    return TriggerEvent{type, code, flags, repeat, button, {}, std::move(characters)};
}

TEST(TriggerBindingTest, recordsSingleEvents)
{
    using T = TriggerEventType;
    using namespace ModifierFlag;

    EXPECT_EQ(B::fromEvent(recorded(T::keyDown, 96, 0)), B::predefined(TriggerKey::f5));
    EXPECT_EQ(B::fromEvent(recorded(T::keyDown, 96, function)), B::predefined(TriggerKey::f5))
        << "Fn lies outside the mask";
    EXPECT_EQ(B::fromEvent(recorded(T::keyDown, 96, command)), B::shortcut({96, command}, "Super+Key 96"));
    EXPECT_EQ(B::fromEvent(recorded(T::keyDown, 40, command | shift | option | control, "k")),
              B::shortcut({40, triggerMask}, "Ctrl+Alt+Shift+Super+K"));
    EXPECT_EQ(B::fromEvent(recorded(T::keyDown, 49, 0, " ")), B::keyboard(49, "Space"));
    EXPECT_EQ(B::fromEvent(recorded(T::keyDown, 0, 0, "ä")), B::keyboard(0, "Ä"));
    EXPECT_EQ(B::fromEvent(recorded(T::keyDown, 200, 0)), B::keyboard(200, "Key 200"));
    EXPECT_EQ(B::fromEvent(recorded(T::keyDown, 53, 0)), std::nullopt) << "Escape";
    EXPECT_EQ(B::fromEvent(recorded(T::keyDown, 0, 0, "a", true)), std::nullopt) << "auto-repeat";
    EXPECT_EQ(B::fromEvent(recorded(T::keyUp, 0, 0, "a")), std::nullopt);

    // The right Super key records as a modifier binding, not the predefined key; its release records nothing.
    EXPECT_EQ(B::fromEvent(recorded(T::flagsChanged, 54, command)), B::modifier(54, command, "Right Super"));
    EXPECT_EQ(B::fromEvent(recorded(T::flagsChanged, 54, 0)), std::nullopt);
    EXPECT_EQ(B::fromEvent(recorded(T::flagsChanged, 58, option | rightOptionKey)), std::nullopt)
        << "left Alt going up while right Alt is held";
    EXPECT_EQ(B::fromEvent(recorded(T::flagsChanged, 63, function)), std::nullopt) << "Fn";
    EXPECT_EQ(B::fromEvent(recorded(T::flagsChanged, 57, 0x10000)), std::nullopt) << "Caps Lock";

    EXPECT_EQ(B::fromEvent(recorded(T::otherMouseDown, 0, 0, {}, false, 2)), B::mouse(2));
    EXPECT_EQ(B::fromEvent(recorded(T::otherMouseDown, 0, 0, {}, false, 1)), std::nullopt);
}

TEST(TriggerBindingTest, recordsSequences)
{
    using T = TriggerEventType;
    using namespace ModifierFlag;

    const TriggerEvent macroEvents[] = {
        recorded(T::keyDown, 40, command, "k"),           recorded(T::keyDown, 40, command, "k", true),
        recorded(T::flagsChanged, 55, command),           recorded(T::keyDown, 53, 0),
        recorded(T::keyDown, 8, command | function, "c"),
    };
    EXPECT_EQ(B::fromEvents(macroEvents), B::macro({{40, command}, {8, command}}, "Macro · Super+K → Super+C"));

    const TriggerEvent single[] = {recorded(T::keyDown, 96, 0), recorded(T::keyDown, 96, 0, {}, true)};
    EXPECT_EQ(B::fromEvents(single), B::predefined(TriggerKey::f5));

    const TriggerEvent escapeAndRepeats[] = {recorded(T::keyDown, 53, 0), recorded(T::keyDown, 0, 0, "a", true)};
    EXPECT_EQ(B::fromEvents(escapeAndRepeats), std::nullopt);
    EXPECT_EQ(B::fromEvents({}), std::nullopt);
}

// Whatever the recorder makes must survive the settings: encode, decode, and get the same binding back.
TEST(TriggerBindingTest, everyRecordedBindingRoundTrips)
{
    std::mt19937_64 random(20240611);
    const QString texts[] = {"", "a", ":", ",", "+", "a:b", "1+0", "ß", "é", "🌐", " ", "\t", "macro:1+0", "-"};
    const std::uint64_t flagBits[] = {ModifierFlag::shift,        ModifierFlag::control,       ModifierFlag::option,
                                      ModifierFlag::command,      ModifierFlag::function,      0x10000,
                                      ModifierFlag::leftShiftKey, ModifierFlag::rightOptionKey};
    auto randomEvent = [&] {
        TriggerEvent event;
        const auto pick = random() % 10;
        event.type = pick < 6   ? TriggerEventType::keyDown
                     : pick < 8 ? TriggerEventType::flagsChanged
                                : TriggerEventType::otherMouseDown;
        event.keyCode = static_cast<std::int64_t>(random() % 130);
        for (std::uint64_t bit : flagBits) {
            if (random() % 3 == 0)
                event.flags |= bit;
        }
        event.isAutoRepeat = random() % 8 == 0;
        event.buttonNumber = static_cast<std::int64_t>(random() % 6);
        event.characters = texts[random() % std::size(texts)];
        return event;
    };

    int bindings = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<TriggerEvent> events(random() % 4);
        for (TriggerEvent &event : events)
            event = randomEvent();
        std::optional<TriggerBinding> binding =
            events.size() == 1 ? TriggerBinding::fromEvent(events.front()) : TriggerBinding::fromEvents(events);
        if (!binding)
            continue;
        ++bindings;
        const QString stored = binding->storageValue();
        ASSERT_EQ(TriggerBinding::fromStorageValue(stored), binding) << stored.toStdString();
    }
    EXPECT_GT(bindings, 5000) << "the generator must exercise the recorder";
}

TEST(TriggerBindingTest, triggerListFromSettings)
{
    using V = std::vector<QString>;
    EXPECT_EQ(triggerValues(std::nullopt, std::nullopt), V{"fn"});
    EXPECT_EQ(triggerValues(QString("f5"), QString()), V{"f5"});
    EXPECT_EQ(triggerValues(QString("f5"), QString("nonsense")), V{"f5"});
    EXPECT_EQ(triggerValues(QString(""), QString("mouse:3")), (V{"", "mouse:3"}))
        << "a primary that does not decode stays first and acts as Fn";
    EXPECT_EQ(triggerValues(std::nullopt, QString("key:49:Space")), (V{"fn", "key:49:Space"}));
}

} // namespace
} // namespace zq
