// Which triggers in force can start a take on a keyboard, and which key a profile without a stored
// trigger starts on.
#include "pipeline/TriggerReach.h"
#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"
#include "support/FakePermissionProbe.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using zq::TriggerKey;
using zq::TriggerReach;
using zq::platform::KeyboardMap;
using zq::test::FakePermissionProbe;

namespace {

// A keyboard without Fn whose X key codes `codes` sit where the logical keys `logical` are.
KeyboardMap keyboardWith(std::initializer_list<std::pair<std::size_t, std::int64_t>> keys, bool hasFn = false)
{
    KeyboardMap map = FakePermissionProbe::keyboardWithFn(hasFn);
    for (const auto &[code, logical] : keys)
        map.logicalCodes[code] = logical;
    return map;
}

TEST(TriggerReachTest, OnlyTriggersThatNeedAnUnmappedFnKeyAreLeftOut)
{
    const struct {
        const char *primary;
        const char *secondary;
        bool fnMapped;
        const char *seen;
    } cases[] = {
        {"fn", "", false, ""},
        {"fn", "", true, "Fn"},
        // A primary that does not decode acts as Fn; secondary text that does not decode is no trigger.
        {"not-a-key", "", false, ""},
        {"fn", "shortcut:x", false, ""},
        {"fn", "key:100:F8", false, "F8"},
        {"fn", "mouse:3", true, "Fn or Mouse Button 4"},
        {"right-control", "", false, "Right Control"},
        {"right-control", "key:100:F8", false, "Right Control or F8"},
    };
    for (const auto &c : cases) {
        zq::rt::Settings settings{QString()};
        zq::registerDefaults(settings);
        settings.setValue(QStringLiteral("triggerKey"), QString::fromLatin1(c.primary));
        settings.setValue(QStringLiteral("secondaryTriggerKey"), QString::fromLatin1(c.secondary));
        EXPECT_EQ(zq::triggerNames(zq::triggersSeen(settings, c.fnMapped)), QString::fromLatin1(c.seen))
            << c.primary << " + " << c.secondary << (c.fnMapped ? " with Fn" : " without Fn");
    }
}

TEST(TriggerReachTest, TheDefaultIsFnWhereItArrivesElseARightHandModifierTheKeyboardHas)
{
    using zq::KeyCode::rightCommand;
    using zq::KeyCode::rightControl;
    using zq::KeyCode::rightOption;
    const struct {
        std::optional<KeyboardMap> keyboard;
        TriggerKey expected;
    } cases[] = {
        {keyboardWith({{105, rightControl}, {108, rightOption}}, true), TriggerKey::fn},
        {keyboardWith({{105, rightControl}, {108, rightOption}, {134, rightCommand}}), TriggerKey::rightControl},
        {keyboardWith({{108, rightOption}, {134, rightCommand}}), TriggerKey::rightOption},
        {keyboardWith({{134, rightCommand}}), TriggerKey::rightCommand},
        // Nothing better on the keyboard, or no keyboard known at all: the designed default.
        {keyboardWith({}), TriggerKey::fn},
        {std::nullopt, TriggerKey::fn},
    };
    for (const auto &c : cases)
        EXPECT_EQ(zq::defaultTriggerKey(c.keyboard), c.expected) << zq::rawValue(c.expected).toStdString();
}

TEST(TriggerReachTest, TheKeyboardDefaultNeverRewritesAStoredChoice)
{
    zq::rt::Settings fresh{QString()};
    zq::registerDefaults(fresh, TriggerKey::rightControl);
    EXPECT_EQ(fresh.stringValue(QStringLiteral("triggerKey")), QStringLiteral("right-control"));
    EXPECT_FALSE(fresh.hasUserValue(QStringLiteral("triggerKey")));

    zq::rt::Settings chosen{QString()};
    chosen.setValue(QStringLiteral("triggerKey"), QStringLiteral("fn"));
    zq::registerDefaults(chosen, TriggerKey::rightControl);
    EXPECT_EQ(chosen.stringValue(QStringLiteral("triggerKey")), QStringLiteral("fn"));
}

TEST(TriggerReachTest, FollowsTheTriggerSettingsAndALayoutThatGainsFn)
{
    zq::rt::Settings settings{QString()};
    zq::registerDefaults(settings);
    std::optional<KeyboardMap> keyboard = FakePermissionProbe::keyboardWithFn(false);
    int reads = 0;
    TriggerReach reach(settings, [&] {
        ++reads;
        return keyboard;
    });
    QSignalSpy changes(&reach, &TriggerReach::changed);
    EXPECT_FALSE(reach.canStartTake());

    settings.setValue(QStringLiteral("secondaryTriggerKey"), QStringLiteral("mouse:3"));
    EXPECT_EQ(changes.count(), 1);
    EXPECT_TRUE(reach.canStartTake());
    settings.setValue(QStringLiteral("secondaryTriggerKey"), QString());
    settings.setValue(QStringLiteral("soundCues"), false);
    EXPECT_EQ(changes.count(), 2) << "other settings are not its business";

    // Nothing changed on the keyboard: no signal. Then the layout maps Fn.
    reach.refresh();
    EXPECT_EQ(changes.count(), 2);
    keyboard->hasFnKey = true;
    reach.refresh();
    EXPECT_EQ(changes.count(), 3);
    EXPECT_TRUE(reach.canStartTake());
    // The display went away: Fn cannot be seen any more.
    keyboard.reset();
    reach.refresh();
    EXPECT_FALSE(reach.canStartTake());
    EXPECT_EQ(reads, 4);
}

} // namespace
