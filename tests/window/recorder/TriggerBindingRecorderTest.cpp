// The trigger recorder's rules on virtual time: which events make the new secondary trigger, when the
// 0.25 s waits end, and what the recorder writes for the global trigger to read.
#include "pipeline/GatedEventTap.h"
#include "pipeline/TriggerBinding.h"
#include "pipeline/TriggerRecordingGate.h"
#include "support/FakeEventTap.h"
#include "support/VirtualLoop.h"
#include "window/recorder/TriggerBindingRecorderModel.h"

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;
using zq::TriggerBinding;
using zq::TriggerBindingRecorderModel;
using zq::TriggerEvent;
using zq::TriggerEventType;
using zq::TriggerKey;
namespace Flag = zq::ModifierFlag;
namespace Code = zq::KeyCode;

namespace {

constexpr auto kJustBefore = 250ms - 1ns;

TriggerEvent keyDown(std::int64_t code, std::uint64_t flags = 0, QString characters = {}, bool repeat = false)
{
    TriggerEvent event;
    event.type = TriggerEventType::keyDown;
    event.keyCode = code;
    event.flags = flags;
    event.characters = std::move(characters);
    event.isAutoRepeat = repeat;
    return event;
}

TriggerEvent flagsChanged(std::int64_t code, std::uint64_t flagsAfter)
{
    TriggerEvent event;
    event.type = TriggerEventType::flagsChanged;
    event.keyCode = code;
    event.flags = flagsAfter;
    return event;
}

TriggerEvent mouseDown(std::int64_t button)
{
    TriggerEvent event;
    event.type = TriggerEventType::otherMouseDown;
    event.buttonNumber = button;
    return event;
}

constexpr std::uint64_t kLeftControl = Flag::control | Flag::leftControlKey;
constexpr std::uint64_t kLeftShift = Flag::shift | Flag::leftShiftKey;
constexpr std::int64_t kSpace = 49;
constexpr std::int64_t kA = 0;
constexpr std::int64_t kS = 1;
constexpr std::int64_t kD = 2;
constexpr std::int64_t kF5 = 96;

class TriggerBindingRecorderTest : public ::testing::Test {
protected:
    TriggerBindingRecorderTest()
    {
        recorder = std::make_unique<TriggerBindingRecorderModel>(
            loop, zq::StringBinding{[this] { return primary; }, [this](const QString &v) { primary = v; }},
            zq::StringBinding{[this] { return secondary; }, [this](const QString &v) { secondary = v; }}, &gate);
        recorder->onRecordingChanged = [this](bool recording) { recordingChanges.push_back(recording); };
    }

    // What the global trigger decodes from the stored secondary value.
    std::optional<TriggerBinding> stored() const
    {
        const std::vector<QString> values = zq::triggerValues(primary, secondary);
        if (values.size() != 2)
            return std::nullopt;
        return TriggerBinding::fromStorageValue(values[1]);
    }

    zq::test::VirtualLoop loop;
    zq::TriggerRecordingGate gate;
    QString primary = QStringLiteral("fn");
    QString secondary;
    std::vector<bool> recordingChanges;
    std::unique_ptr<TriggerBindingRecorderModel> recorder;
};

TEST_F(TriggerBindingRecorderTest, AModifierHeldAloneIsStoredAfterAQuarterSecondWithItsSide)
{
    recorder->startRecording();
    EXPECT_FALSE(recorder->handle(flagsChanged(Code::rightOption, Flag::option | Flag::rightOptionKey)))
        << "modifier events reach the application";
    loop.advance(kJustBefore);
    EXPECT_TRUE(secondary.isEmpty());
    EXPECT_TRUE(recorder->isRecording());
    loop.advance(1ns);
    ASSERT_TRUE(stored());
    EXPECT_EQ(stored()->kind(), TriggerBinding::Kind::modifier);
    EXPECT_EQ(stored()->as<TriggerBinding::Modifier>()->keyCode, Code::rightOption);
    EXPECT_EQ(stored()->displayName(), zq::modifierKeyInfo(Code::rightOption)->label);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(primary, QStringLiteral("fn")) << "recording never touches the primary trigger";

    // The left key of the same modifier is a different trigger; released early it is still taken.
    recorder->startRecording();
    recorder->handle(flagsChanged(Code::leftOption, Flag::option | Flag::leftOptionKey));
    loop.advance(100ms);
    EXPECT_FALSE(recorder->handle(flagsChanged(Code::leftOption, 0)));
    loop.advance(150ms);
    ASSERT_TRUE(stored());
    EXPECT_EQ(stored()->as<TriggerBinding::Modifier>()->keyCode, Code::leftOption);
    EXPECT_TRUE(stored()->matchesPress(flagsChanged(Code::leftOption, Flag::option | Flag::leftOptionKey)));
    EXPECT_FALSE(stored()->matchesPress(flagsChanged(Code::rightOption, Flag::option | Flag::rightOptionKey)));
    EXPECT_EQ(recordingChanges, (std::vector<bool>{true, false, true, false}));

    // Tapping the primary trigger records nothing: recording goes on for another key.
    primary = QStringLiteral("right-control");
    recorder->startRecording();
    recorder->handle(flagsChanged(Code::rightControl, Flag::control | Flag::rightControlKey));
    loop.advance(1s);
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_EQ(stored()->as<TriggerBinding::Modifier>()->keyCode, Code::leftOption) << "the secondary stays";
}

TEST_F(TriggerBindingRecorderTest, ASecondModifierOrAModifierAfterAKeyReplacesWhatWasPending)
{
    recorder->startRecording();
    recorder->handle(flagsChanged(Code::leftShift, kLeftShift));
    loop.advance(200ms);
    recorder->handle(flagsChanged(Code::rightControl, Flag::control | Flag::rightControlKey | kLeftShift));
    loop.advance(200ms);
    EXPECT_TRUE(secondary.isEmpty()) << "the second press restarted the wait";
    loop.advance(50ms);
    ASSERT_TRUE(stored());
    EXPECT_EQ(stored()->as<TriggerBinding::Modifier>()->keyCode, Code::rightControl);

    recorder->startRecording();
    EXPECT_TRUE(recorder->handle(keyDown(kA, 0, QStringLiteral("a"))));
    loop.advance(100ms);
    recorder->handle(flagsChanged(Code::leftCommand, Flag::command | Flag::leftCommandKey));
    loop.advance(1s);
    ASSERT_TRUE(stored());
    EXPECT_EQ(stored()->kind(), TriggerBinding::Kind::modifier) << "the typed key is dropped";
    EXPECT_EQ(stored()->as<TriggerBinding::Modifier>()->keyCode, Code::leftCommand);
}

TEST_F(TriggerBindingRecorderTest, AKeyAloneIsStoredAQuarterSecondAfterItAndAFunctionKeyAsThePredefinedKey)
{
    recorder->startRecording();
    EXPECT_TRUE(recorder->handle(keyDown(kA, 0, QStringLiteral("a"))));
    EXPECT_FALSE(recorder->handle(keyDown(kA, 0, QStringLiteral("a"), true))) << "repeats pass on";
    loop.advance(kJustBefore);
    EXPECT_TRUE(secondary.isEmpty());
    loop.advance(1ns);
    ASSERT_TRUE(stored());
    EXPECT_EQ(stored()->kind(), TriggerBinding::Kind::keyboard);
    EXPECT_EQ(stored()->displayName(), QStringLiteral("A"));
    EXPECT_TRUE(stored()->matchesPress(keyDown(kA)));

    recorder->startRecording();
    recorder->handle(keyDown(kF5));
    loop.advance(250ms);
    EXPECT_EQ(secondary, QStringLiteral("f5"));

    primary = QStringLiteral("f5");
    recorder->startRecording();
    recorder->handle(keyDown(kF5));
    loop.advance(250ms);
    EXPECT_TRUE(recorder->isRecording()) << "the primary trigger is refused";
}

TEST_F(TriggerBindingRecorderTest, AShortcutIsTheKeyWithTheModifiersHeldWhateverOrderTheyWentDownIn)
{
    std::vector<QString> values;
    for (const bool controlFirst : {true, false}) {
        secondary.clear();
        recorder->startRecording();
        const std::uint64_t both = kLeftControl | kLeftShift;
        if (controlFirst) {
            EXPECT_FALSE(recorder->handle(flagsChanged(Code::leftControl, kLeftControl)));
            EXPECT_FALSE(recorder->handle(flagsChanged(Code::leftShift, both)));
        } else {
            EXPECT_FALSE(recorder->handle(flagsChanged(Code::leftShift, kLeftShift)));
            EXPECT_FALSE(recorder->handle(flagsChanged(Code::leftControl, both)));
        }
        loop.advance(200ms);
        EXPECT_TRUE(recorder->handle(keyDown(kSpace, both, QStringLiteral(" ")))) << "the key is used up";
        loop.advance(200ms);
        EXPECT_TRUE(secondary.isEmpty()) << "the modifier capture was replaced";
        loop.advance(50ms);
        ASSERT_TRUE(stored());
        EXPECT_EQ(stored()->kind(), TriggerBinding::Kind::shortcut);
        EXPECT_EQ(stored()->displayName(), QStringLiteral("Ctrl+Shift+Space"));
        EXPECT_TRUE(stored()->matchesPress(keyDown(kSpace, both)));
        EXPECT_FALSE(stored()->matchesPress(keyDown(kSpace, kLeftControl)));
        values.push_back(secondary);
    }
    EXPECT_EQ(values[0], values[1]);
}

TEST_F(TriggerBindingRecorderTest, KeysWithinAQuarterSecondOfEachOtherAreOneMacro)
{
    recorder->startRecording();
    recorder->handle(keyDown(kA, 0, QStringLiteral("a")));
    loop.advance(kJustBefore);
    recorder->handle(keyDown(kS, kLeftControl, QStringLiteral("s")));
    loop.advance(kJustBefore);
    EXPECT_TRUE(secondary.isEmpty());
    EXPECT_EQ(recorder->isRecording(), true);
    loop.advance(1ns);
    ASSERT_TRUE(stored());
    const std::optional<TriggerBinding> macro = stored();
    const auto *twoStrokes = macro->as<TriggerBinding::Macro>();
    ASSERT_NE(twoStrokes, nullptr);
    EXPECT_EQ(twoStrokes->strokes, (std::vector<zq::TriggerStroke>{{kA, 0}, {kS, Flag::control}}));

    recorder->startRecording();
    for (const std::int64_t code : {kA, kS, kD}) {
        recorder->handle(keyDown(code));
        loop.advance(100ms);
    }
    loop.advance(150ms);
    ASSERT_TRUE(stored());
    ASSERT_NE(stored()->as<TriggerBinding::Macro>(), nullptr);
    EXPECT_EQ(stored()->as<TriggerBinding::Macro>()->strokes.size(), 3u);
    EXPECT_EQ(TriggerBinding::fromStorageValue(secondary)->storageValue(), secondary);

    // A pause of a quarter second ends the sequence: the next key starts a new recording's worth.
    recorder->startRecording();
    recorder->handle(keyDown(kA));
    loop.advance(250ms);
    EXPECT_EQ(stored()->kind(), TriggerBinding::Kind::keyboard);
    EXPECT_FALSE(recorder->handle(keyDown(kS))) << "after the capture the recorder no longer takes keys";
}

TEST_F(TriggerBindingRecorderTest, ASideMouseButtonIsStoredAtOnceAndOtherButtonsPassOn)
{
    recorder->startRecording();
    EXPECT_FALSE(recorder->handle(mouseDown(1)));
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_TRUE(recorder->handle(mouseDown(3)));
    EXPECT_FALSE(recorder->isRecording());
    ASSERT_TRUE(stored());
    EXPECT_EQ(stored()->displayName(), QStringLiteral("Mouse Button 4"));
    EXPECT_EQ(zq::secondaryTriggerLook(secondary).symbol, QStringLiteral("computermouse"));
    TriggerEvent press = mouseDown(3);
    EXPECT_TRUE(stored()->matchesPress(press));
}

TEST_F(TriggerBindingRecorderTest, EscapeCancelsWithoutTouchingEitherValueAndDropsThePendingCapture)
{
    secondary = QStringLiteral("mouse:2");
    recorder->startRecording();
    recorder->handle(flagsChanged(Code::rightShift, Flag::shift | Flag::rightShiftKey));
    recorder->handle(keyDown(kA));
    EXPECT_TRUE(recorder->handle(keyDown(Code::escape)));
    EXPECT_FALSE(recorder->isRecording());
    loop.advance(1s);
    EXPECT_EQ(secondary, QStringLiteral("mouse:2"));
    EXPECT_EQ(primary, QStringLiteral("fn"));
    EXPECT_FALSE(gate.isRecording());
    EXPECT_EQ(loop.pendingCount(), 0);

    // Closing the popup any other way is the same.
    recorder->startRecording();
    recorder->handle(keyDown(kA));
    recorder->cancelRecording();
    loop.advance(1s);
    EXPECT_EQ(secondary, QStringLiteral("mouse:2"));
}

TEST_F(TriggerBindingRecorderTest, TheGlobalTriggerIsHeldOffExactlyWhileRecording)
{
    EXPECT_FALSE(gate.isRecording());
    recorder->startRecording();
    EXPECT_TRUE(gate.isRecording());
    recorder->startRecording();
    recorder->handle(mouseDown(2));
    EXPECT_FALSE(gate.isRecording()) << "a second start must not leave the gate shut";

    recorder->startRecording();
    recorder->handle(keyDown(kA));
    recorder.reset();
    EXPECT_FALSE(gate.isRecording()) << "a recorder that goes away while recording lets go";
    loop.advance(1s);
    EXPECT_EQ(secondary, TriggerBinding::mouse(2).storageValue()) << "nor does its pending capture run";
}

TEST_F(TriggerBindingRecorderTest, NothingIsTakenWhileNotRecording)
{
    EXPECT_FALSE(recorder->handle(keyDown(kA)));
    EXPECT_FALSE(recorder->handle(mouseDown(2)));
    EXPECT_FALSE(recorder->handle(keyDown(Code::escape)));
    loop.advance(1s);
    EXPECT_TRUE(secondary.isEmpty());
    EXPECT_TRUE(recordingChanges.empty());
}

TEST_F(TriggerBindingRecorderTest, ThePickerListsTheModifierKeysThenTwentyFunctionKeys)
{
    const auto sections = zq::primaryTriggerSections();
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].id, QStringLiteral("modifiers"));
    ASSERT_EQ(sections[0].options.size(), 4u);
    EXPECT_EQ(sections[0].options[0].value, QStringLiteral("fn"));
    EXPECT_EQ(sections[0].options[3].value, QStringLiteral("right-command"));
    EXPECT_EQ(sections[0].options[1].symbol, QStringLiteral("keyboard")) << "no command glyph on this desktop";
    EXPECT_EQ(sections[1].title, QStringLiteral("Function keys"));
    ASSERT_EQ(sections[1].options.size(), 20u);
    EXPECT_EQ(sections[1].options[19].value, QStringLiteral("f20"));
    EXPECT_EQ(sections[1].options[19].label, QStringLiteral("F20"));
    EXPECT_EQ(sections[1].options[0].symbol, QStringLiteral("keyboard"));

    recorder->selectPrimary(QStringLiteral("f7"));
    EXPECT_EQ(primary, QStringLiteral("f7"));
}

TEST_F(TriggerBindingRecorderTest, TheSecondaryColumnShowsWhatIsStoredAndTreatsMalformedTextAsNone)
{
    for (const QString &none : {QString(), QStringLiteral("modifier:nonsense"), QStringLiteral("macro:")}) {
        const zq::SecondaryTriggerLook look = zq::secondaryTriggerLook(none);
        EXPECT_EQ(look.symbol, QStringLiteral("plus")) << none.toStdString();
        EXPECT_EQ(look.text, QStringLiteral("Add trigger…"));
        EXPECT_EQ(look.tooltip, QStringLiteral("Record a secondary trigger"));
        EXPECT_FALSE(look.showsClear);
    }
    const QString macro =
        TriggerBinding::fromEvents(std::vector<TriggerEvent>{keyDown(kA), keyDown(kS)})->storageValue();
    EXPECT_EQ(zq::secondaryTriggerLook(macro).symbol, QStringLiteral("point.3.connected.trianglepath.dotted"));
    const zq::SecondaryTriggerLook key = zq::secondaryTriggerLook(QStringLiteral("f3"));
    EXPECT_EQ(key.symbol, QStringLiteral("keyboard"));
    EXPECT_EQ(key.text, QStringLiteral("F3"));
    EXPECT_EQ(key.tooltip, QStringLiteral("Record again"));
    EXPECT_TRUE(key.showsClear);

    secondary = QStringLiteral("f3");
    recorder->clearSecondary();
    EXPECT_EQ(secondary, QString());
    EXPECT_FALSE(zq::secondaryTriggerLook(secondary).showsClear);
}

} // namespace

namespace {

TEST(GatedEventTapTest, WhileRecordingThePressesGoToTheRecorderAndReleasesStillReachTheTrigger)
{
    zq::test::FakeEventTap source;
    zq::TriggerRecordingGate gate;
    zq::GatedEventTap tap(source, gate);
    std::vector<TriggerEvent> seen;
    std::vector<zq::platform::EventTap::DisabledReason> disabled;
    std::vector<TriggerEvent> restored;
    ASSERT_TRUE(tap.start({[&](const TriggerEvent &event) { seen.push_back(event); },
                           [&](auto reason) { disabled.push_back(reason); },
                           [&](const std::vector<TriggerEvent> &held) { restored = held; }}));

    const std::uint64_t bothShifts = Flag::shift | Flag::leftShiftKey | Flag::rightShiftKey;
    const std::vector<TriggerEvent> presses{keyDown(kA), mouseDown(3), flagsChanged(Code::rightShift, bothShifts),
                                            flagsChanged(Code::function, Flag::function)};
    TriggerEvent keyUp = keyDown(kA);
    keyUp.type = TriggerEventType::keyUp;
    const std::vector<TriggerEvent> releases{keyUp, flagsChanged(Code::rightShift, Flag::shift | Flag::leftShiftKey),
                                             flagsChanged(Code::function, 0)};

    gate.open();
    for (const TriggerEvent &event : presses)
        source.emitEvent(event);
    EXPECT_TRUE(seen.empty());
    for (const TriggerEvent &event : releases)
        source.emitEvent(event);
    EXPECT_EQ(seen.size(), releases.size()) << "a release of one Shift key while the other is down still passes";
    source.emitDisabled(zq::platform::EventTap::DisabledReason::timeout);
    EXPECT_EQ(disabled.size(), 1u);
    source.emitRestored(presses);
    EXPECT_EQ(restored.size(), presses.size()) << "the presses still in effect after a lost connection";

    gate.close();
    seen.clear();
    for (const TriggerEvent &event : presses)
        source.emitEvent(event);
    EXPECT_EQ(seen.size(), presses.size());
    tap.stop();
    EXPECT_FALSE(source.isRunning());
}

} // namespace
