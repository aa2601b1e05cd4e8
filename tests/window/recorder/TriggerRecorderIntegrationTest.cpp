// The recorder in a real window on a private X display: keys typed with xdotool are recorded through
// the X server's keyboard map, and the recorded trigger then starts dictation through the running
// global trigger, which ignores the keys while the recorder records.
#include "menubar/brand/ZepaPopover.h"
#include "pipeline/GatedEventTap.h"
#include "pipeline/HotkeyTap.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerRecordingGate.h"
#include "platform/linux/LinuxPermissionProbe.h"
#include "platform/linux/pulse/PulseAudioHardware.h"
#include "platform/linux/x11/X11EventTap.h"
#include "platform/linux/x11/X11SyntheticKeys.h"
#include "runtime/Clocks.h"
#include "runtime/QtMainLoop.h"
#include "runtime/Settings.h"
#include "support/ChildProcess.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "window/recorder/TriggerBindingRecorderView.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

using namespace zq;
using namespace zq::test;
using namespace std::chrono_literals;

namespace {

// Polls with the Qt event loop running, so the window receives what the X server sends.
bool waitWithEvents(const std::function<bool()> &predicate, std::chrono::milliseconds timeout = 5s)
{
    return processEventsUntil(predicate, timeout);
}

class TriggerRecorderIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZQ_REQUIRE_SERVICE(!sharedDisplay().isEmpty(), sharedDisplayError());
        registerDefaults(settings);
        probe = std::make_unique<platform::LinuxPermissionProbe>(hardware, sharedDisplay().toLocal8Bit());
        window = std::make_unique<QWidget>();
        window->setWindowTitle(QStringLiteral("recorder test"));
        auto *layout = new QVBoxLayout(window.get());
        auto *model = new TriggerBindingRecorderModel(
            loop, settingBinding(settings, QStringLiteral("triggerKey"), QStringLiteral("fn")),
            settingBinding(settings, QStringLiteral("secondaryTriggerKey")), &gate);
        recorder = new TriggerBindingRecorderView(
            *model, [this] { return probe->keyboardMap(); }, window.get());
        model->setParent(recorder);
        layout->addWidget(recorder);
        // Room above the recorder, where its popover opens.
        window->move(40, 360);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    void record(const QStringList &keys)
    {
        // The user clicks Record in the active settings window. Without a window manager nothing makes
        // it active, and a focus change still pending from the previous popup would close the next one
        // as it opens.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QTest::mouseClick(recorder->recordButton(), Qt::LeftButton);
        ASSERT_TRUE(recorder->popup()->isVisible());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(recorder->popup()));
        // Above the recorder, hiding nothing under it; the hint's lines are even, none a word or two alone.
        EXPECT_LE(recorder->popup()->geometry().bottom(),
                  recorder->mapToGlobal(QPoint(0, 0)).y() + PopoverLook::kShadowMargin);
        for (const QLabel *text : recorder->popup()->findChildren<QLabel *>()) {
            if (!text->wordWrap())
                continue;
            for (const QString &line : text->text().split(QLatin1Char('\n')))
                EXPECT_TRUE(line.isEmpty() || line.count(QLatin1Char(' ')) >= 2) << line.toStdString();
        }
        xdotool(keys);
        ASSERT_TRUE(waitWithEvents([&] { return !recorder->popup()->isVisible(); }))
            << "nothing was recorded; stored \"" << settings.stringValue("secondaryTriggerKey").toStdString() << '"';
    }

    rt::QtMainLoop loop;
    rt::SystemClocks clocks;
    rt::Settings settings{QString()};
    platform::PulseAudioHardware hardware{QStringLiteral("unix:/nonexistent/zq/native")};
    std::unique_ptr<platform::LinuxPermissionProbe> probe;
    TriggerRecordingGate gate;
    std::unique_ptr<QWidget> window;
    TriggerBindingRecorderView *recorder = nullptr;
};

TEST_F(TriggerRecorderIntegrationTest, ARecordedShortcutStartsDictationThroughTheRunningTrigger)
{
    std::shared_ptr<platform::X11SyntheticKeys> ownKeys = std::make_shared<platform::X11SyntheticKeys>();
    platform::X11EventTap x11(ownKeys);
    GatedEventTap source(x11, gate);
    std::vector<TriggerAction> actions;
    HotkeyTap tap(
        source, settings, loop, clocks, [&](TriggerAction action) { actions.push_back(action); },
        [](const QString &) {});
    ASSERT_TRUE(tap.start());

    record({QStringLiteral("key"), QStringLiteral("ctrl+space")});
    const std::optional<TriggerBinding> stored =
        TriggerBinding::fromStorageValue(settings.stringValue(QStringLiteral("secondaryTriggerKey")));
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->kind(), TriggerBinding::Kind::shortcut);
    EXPECT_EQ(stored->as<TriggerBinding::Shortcut>()->stroke, (TriggerStroke{49, ModifierFlag::control}));
    EXPECT_EQ(stored->displayName(), QStringLiteral("Ctrl+Space"));
    // The keys went to the recorder, not to dictation, although the binding was new by then.
    waitWithEvents([] { return false; }, 300ms);
    EXPECT_TRUE(actions.empty());

    xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+space")});
    ASSERT_TRUE(waitWithEvents([&] { return !actions.empty(); }));
    EXPECT_EQ(actions.front(), TriggerAction::start);
    xdotool({QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("keyup"), QStringLiteral("ctrl")});
    ASSERT_TRUE(waitWithEvents([&] { return actions.size() >= 2; }));
    tap.stop();
}

TEST_F(TriggerRecorderIntegrationTest, TheRightAltKeyHeldAloneAndASideButtonAreRecordedAsThemselves)
{
    record({QStringLiteral("keydown"), QStringLiteral("Alt_R")});
    xdotool({QStringLiteral("keyup"), QStringLiteral("Alt_R")});
    std::optional<TriggerBinding> stored =
        TriggerBinding::fromStorageValue(settings.stringValue(QStringLiteral("secondaryTriggerKey")));
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->kind(), TriggerBinding::Kind::modifier);
    EXPECT_EQ(stored->as<TriggerBinding::Modifier>()->keyCode, KeyCode::rightOption);

    record({QStringLiteral("click"), QStringLiteral("9")});
    stored = TriggerBinding::fromStorageValue(settings.stringValue(QStringLiteral("secondaryTriggerKey")));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->storageValue(), TriggerBinding::mouse(4).storageValue()) << "X button 9 is forward";
    EXPECT_EQ(settings.stringValue(QStringLiteral("triggerKey")), QStringLiteral("fn"));
}

} // namespace
