// The start and finish of takes, end to end on fakes and virtual time.

#include "pipeline/DictationController.h"

#include "pipeline/SettingsDefaults.h"
#include "records/HistoryStore.h"
#include "support/DictationControllerFixture.h"
#include "support/HeldStoreWriter.h"
#include "support/TriggerTestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

using namespace zq;
using namespace zq::test;

namespace {

using Kind = PillState::Kind;

class DictationControllerTest : public DictationControllerFixture {
protected:
    // Holds the next core's start until the returned gate opens.
    std::shared_ptr<FakeGate> holdNextStart()
    {
        auto gate = std::make_shared<FakeGate>();
        rig.cores.enqueue({fakeCaptureSetup(rig.microphoneID, QStringLiteral("Fake Mic")), nullptr, gate});
        return gate;
    }
};

TEST_F(DictationControllerTest, HoldAndReleaseDeliversTheLiveTranscript)
{
    ASSERT_TRUE(rig.startLive());
    EXPECT_TRUE(controller.isRecording());
    EXPECT_TRUE(controller.pillState().is(Kind::listening));
    EXPECT_TRUE(rig.escapeGrab.isHeld) << "Escape is the take's while it records";
    EXPECT_TRUE(rig.audioBackend->isVolumeLowered());
    ASSERT_TRUE(rig.backends.last());
    EXPECT_EQ(rig.backends.last()->backendName, QStringLiteral("local"));
    EXPECT_TRUE(rig.backends.last()->source->isStream());
    rig.deliver(1);
    EXPECT_EQ(rig.cuePlays(SoundCue::listening), 1);

    recordFor(1.5);
    rig.backends.last()->partial(QStringLiteral("hello"));
    rig.loop.runUntilIdle();
    EXPECT_EQ(controller.liveTranscript(), QStringLiteral("hello"));

    controller.handleTriggerAction(TriggerAction::finish);
    EXPECT_FALSE(controller.isRecording());
    EXPECT_FALSE(rig.escapeGrab.isHeld) << "thinking, Escape cancels nothing and goes to the windows";
    EXPECT_TRUE(rig.audioBackend->isVolumeLowered()) << "the recogniser hears of the end first";
    EXPECT_TRUE(controller.pillState().is(Kind::thinking));
    EXPECT_TRUE(controller.isWatchdogArmed());
    EXPECT_TRUE(rig.stats->armedTake().has_value());
    rig.loop.runUntilIdle();
    EXPECT_FALSE(rig.audioBackend->isVolumeLowered());
    EXPECT_EQ(rig.cuePlays(SoundCue::captured), 1);

    rig.backends.last()->final(QStringLiteral("  hello world, this is a take  "));
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.keys.pastedTexts(), QStringList{QStringLiteral("Cleaned: hello world, this is a take")});
    ASSERT_EQ(rig.history->items().size(), 1);
    EXPECT_EQ(rig.history->items().front().text, QStringLiteral("Cleaned: hello world, this is a take"));
    ASSERT_EQ(rig.stats->days().size(), 1);
    EXPECT_EQ(rig.stats->days().first().words, 7);
    EXPECT_TRUE(controller.pillState().is(Kind::done));
    EXPECT_FALSE(controller.isWatchdogArmed());
    EXPECT_FALSE(controller.isTranscribing());
    EXPECT_FALSE(controller.takeFilePath().has_value());
    EXPECT_TRUE(rig.takeFiles().isEmpty());

    rig.advance(1.0);
    EXPECT_TRUE(controller.pillState().is(Kind::done));
    rig.advance(0.01);
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));
    EXPECT_FALSE(controller.activeBackend().has_value());
    EXPECT_EQ(rig.pill->state(), PillState::hidden());

    const std::vector<DiagnosticEvent> expected = {
        DiagnosticEvent::dictationRequested,       DiagnosticEvent::audioStartBegan,
        DiagnosticEvent::audioStartCompleted,      DiagnosticEvent::transcriptionStarted,
        DiagnosticEvent::dictationFinishRequested, DiagnosticEvent::captureCompleted,
        DiagnosticEvent::transcriptionCompleted,   DiagnosticEvent::pasteSucceeded};
    std::vector<DiagnosticEvent> dictation;
    for (DiagnosticEvent event : rig.events()) {
        if (event != DiagnosticEvent::audioStartFailed)
            dictation.push_back(event);
    }
    EXPECT_EQ(dictation, expected);
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationRequested).value(QStringLiteral("backend")),
              QStringLiteral("local"));
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::captureCompleted).value(QStringLiteral("duration_ms")).toInt() / 100,
              15);
}

TEST_F(DictationControllerTest, TheNextTakesPillStartsWithEmptyMeters)
{
    captureTake();
    ASSERT_GT(rig.engine->history().count(), 0);
    rig.backends.last()->final(QStringLiteral("first take"));
    rig.advance(1.1);
    ASSERT_TRUE(controller.pillState().is(Kind::hidden));
    ASSERT_GT(rig.engine->history().count(), 0) << "the last take's levels stay until the next request";

    controller.startDictation();
    EXPECT_TRUE(controller.pillState().is(Kind::listening));
    EXPECT_EQ(rig.engine->history().count(), 0) << "the listening pill reads no old levels";
}

TEST_F(DictationControllerTest, AControllerEndedBeforeItsStartRunsOpensNoMicrophone)
{
    controller.startDictation(); // the engine is asked on a later turn of the loop
    ASSERT_TRUE(rig.escapeGrab.isHeld);
    rig.controller.reset();
    EXPECT_FALSE(rig.escapeGrab.isHeld);
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.engine->takePhase().kind(), TakePhase::Kind::idle) << "a take began with nobody to own it";
    EXPECT_EQ(rig.cores.madeCount(), 0) << "a capture core was made";
}

TEST_F(DictationControllerTest, AControllerEndedWhileTranscribingStopsItsEngineAtOnce)
{
    // At quit the loop may never run again, and an engine still running would post to it.
    captureTake();
    auto transcription = rig.backends.last();
    rig.controller.reset();
    EXPECT_TRUE(*transcription->terminated);
}

TEST_F(DictationControllerTest, TapToLockThenPressFinishes)
{
    controller.handleTriggerAction(TriggerAction::lock);
    EXPECT_EQ(rig.count(DiagnosticEvent::dictationLocked), 0);

    ASSERT_TRUE(rig.startLive());
    controller.handleTriggerAction(TriggerAction::lock);
    EXPECT_TRUE(controller.pillState().is(Kind::locked));
    EXPECT_TRUE(rig.escapeGrab.isHeld);
    controller.handleTriggerAction(TriggerAction::lock);
    EXPECT_EQ(rig.count(DiagnosticEvent::dictationLocked), 1);
    EXPECT_TRUE(controller.isRecording());

    recordFor(2.0);
    controller.handleTriggerAction(TriggerAction::finish);
    EXPECT_TRUE(controller.pillState().is(Kind::thinking));
    controller.handleTriggerAction(TriggerAction::lock);
    EXPECT_TRUE(controller.pillState().is(Kind::thinking));
    rig.backends.last()->final(QStringLiteral("locked take"));
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.keys.pastedTexts(), QStringList{QStringLiteral("Cleaned: locked take")});
}

TEST_F(DictationControllerTest, EscapeWhileStartingLeavesNoTake)
{
    auto gate = holdNextStart();
    controller.startDictation();
    ASSERT_TRUE(rig.loop.runUntil([&] { return gate->isReached(); }));
    EXPECT_TRUE(rig.escapeGrab.isHeld);
    controller.handleTriggerAction(TriggerAction::cancel);
    EXPECT_FALSE(rig.escapeGrab.isHeld);

    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationCancelled).value(QStringLiteral("audio_start_pending")),
              QStringLiteral("true"));
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::audioStartEndedBeforeLive).value(QStringLiteral("intent")),
              QStringLiteral("cancel"));
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));
    EXPECT_FALSE(controller.isBusy());

    // The engine finishes opening the session afterwards: it keeps it warm and begins no take.
    gate->open();
    ASSERT_TRUE(rig.loop.runUntil([&] { return rig.cores.last()->isRunning(); }));
    rig.cores.last()->deliver(480);
    ASSERT_TRUE(rig.pump([&] { return rig.engine->takePhase().kind() != TakePhase::Kind::starting; }));
    EXPECT_NE(rig.engine->takePhase().kind(), TakePhase::Kind::live);
    EXPECT_EQ(rig.count(DiagnosticEvent::audioStartCompleted), 0);
    EXPECT_TRUE(rig.incidents->items().isEmpty());
    EXPECT_TRUE(rig.notifications.posted().empty());

    // And the next take starts normally on the warm session.
    ASSERT_TRUE(rig.startLive());
}

TEST_F(DictationControllerTest, EscapeWhileLiveOrThinkingDropsTheTakeSilently)
{
    ASSERT_TRUE(rig.startLive());
    recordFor(1.0);
    ASSERT_EQ(rig.takeFiles().size(), 1);
    controller.cancelDictation();
    EXPECT_FALSE(rig.escapeGrab.isHeld);
    EXPECT_TRUE(rig.takeFiles().isEmpty());
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));
    EXPECT_FALSE(controller.isBusy());
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationCancelled).value(QStringLiteral("audio_start_pending")),
              QStringLiteral("false"));

    captureTake();
    auto transcription = rig.backends.last();
    controller.cancelDictation();
    EXPECT_TRUE(*transcription->terminated) << "the engine hears of the end before the loop runs again";
    rig.loop.runUntilIdle();
    transcription->fail(ZEPAError::transcriptionFailed(QStringLiteral("late error")));
    rig.advance(200);
    EXPECT_EQ(rig.count(DiagnosticEvent::transcriptionFailed), 0);
    EXPECT_EQ(rig.count(DiagnosticEvent::dictationFailed), 0);
    EXPECT_TRUE(rig.incidents->items().isEmpty());
    EXPECT_TRUE(rig.takeFiles().isEmpty());
    EXPECT_FALSE(controller.takeFilePath().has_value());
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));
    EXPECT_TRUE(rig.keys.pastedTexts().isEmpty());
}

TEST_F(DictationControllerTest, FinishWhileTheStartIsPendingDependsOnThePressLength)
{
    auto gate = holdNextStart();
    controller.startDictation();
    ASSERT_TRUE(rig.loop.runUntil([&] { return gate->isReached(); }));
    rig.advance(0.3);
    controller.handleTriggerAction(TriggerAction::finish);
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::audioStartEndedBeforeLive).value(QStringLiteral("attempt_span_ms")),
              QStringLiteral("300"));
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));
    EXPECT_EQ(rig.count(DiagnosticEvent::dictationFailed), 0);
    gate->open();
    ASSERT_TRUE(rig.loop.runUntil([&] { return rig.cores.last()->isRunning(); }));
    rig.cores.last()->deliver(480);
    ASSERT_TRUE(rig.pump([&] { return rig.engine->takePhase().kind() != TakePhase::Kind::starting; }));

    auto second = holdNextStart();
    rig.advance(1.0); // the warm session goes stale, so the next start opens a new one
    controller.startDictation();
    ASSERT_TRUE(rig.loop.runUntil([&] { return second->isReached(); }));
    rig.advance(0.7);
    controller.handleTriggerAction(TriggerAction::finish);
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationFailed).value(QStringLiteral("reason")),
              QStringLiteral("no_audio_captured"));
    ASSERT_EQ(rig.incidents->items().size(), 1);
    EXPECT_EQ(rig.incidents->items().front().code, QStringLiteral("ZQ-MIC-NO-AUDIO"));
    second->open();
    ASSERT_TRUE(rig.loop.runUntil([&] { return rig.cores.last()->isRunning(); }));
    rig.cores.last()->deliver(480);
    ASSERT_TRUE(rig.pump([&] { return rig.engine->takePhase().kind() != TakePhase::Kind::starting; }));
    EXPECT_NE(rig.engine->takePhase().kind(), TakePhase::Kind::live);
}

TEST_F(DictationControllerTest, ShortAndEmptyTakesEndWithoutTranscript)
{
    // Released 0.3 s after the take went live: an accidental press, ended silently.
    ASSERT_TRUE(rig.startLive());
    recordFor(0.3);
    controller.handleTriggerAction(TriggerAction::finish);
    EXPECT_EQ(rig.count(DiagnosticEvent::captureTooShort), 1);
    EXPECT_EQ(rig.count(DiagnosticEvent::dictationFailed), 0);
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));
    EXPECT_FALSE(rig.escapeGrab.isHeld);
    EXPECT_FALSE(controller.isBusy());

    // Long enough, but not one buffer reached the take.
    ASSERT_TRUE(rig.startLive());
    rig.advance(1.0);
    controller.handleTriggerAction(TriggerAction::finish);
    EXPECT_EQ(rig.count(DiagnosticEvent::captureEmpty), 1);
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationFailed).value(QStringLiteral("reason")),
              QStringLiteral("no_audio_captured"));
    EXPECT_TRUE(controller.pillState().is(Kind::muted));
    EXPECT_FALSE(rig.escapeGrab.isHeld) << "a failed take's notice is no take";
    EXPECT_TRUE(rig.takeFiles().isEmpty());
    EXPECT_TRUE(rig.keys.pastedTexts().isEmpty());
}

TEST_F(DictationControllerTest, AFinalOfOnlyUnicodeWhiteSpaceEndsTheTakeSilently)
{
    captureTake();
    // Line feed, no-break space, line feed: nothing a user would want typed.
    rig.backends.last()->final(QString::fromUtf16(u"\n\u00A0\n"));
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.keys.pastedTexts().isEmpty());
    EXPECT_TRUE(rig.history->items().empty());
    EXPECT_TRUE(rig.stats->days().isEmpty());
    EXPECT_TRUE(rig.takeFiles().isEmpty());
    EXPECT_EQ(rig.count(DiagnosticEvent::dictationFailed), 0);
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));
    EXPECT_FALSE(controller.isBusy());
}

TEST_F(DictationControllerTest, AShortCaptureAfterALongStartIsAFragment)
{
    for (const double wait : {3.2, 2.7}) {
        controller.startDictation();
        // The machine sleeps while the start is pending: the attempt's span grows, the take's
        // own length does not.
        rig.loop.clocks().addSleep(rt::seconds(wait));
        ASSERT_TRUE(rig.bringLive());
        recordFor(0.8);
        controller.handleTriggerAction(TriggerAction::finish);
        if (wait > 3) {
            EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::captureEmpty).value(QStringLiteral("reason")),
                      QStringLiteral("fragment"));
            EXPECT_TRUE(controller.pillState().is(Kind::muted));
            EXPECT_TRUE(rig.takeFiles().isEmpty());
            controller.cancelDictation();
        } else {
            EXPECT_TRUE(controller.pillState().is(Kind::thinking));
        }
    }
}

TEST_F(DictationControllerTest, OpenAISendsTheFileAtFinishAndIsNeverCleaned)
{
    rig.settings.setValue(keys::backend, QStringLiteral("openai"));
    ASSERT_TRUE(rig.startLive());
    EXPECT_EQ(rig.prewarmCalls, 1);
    EXPECT_FALSE(rig.engine->buffers().has_value());
    EXPECT_TRUE(rig.backends.calls().empty());
    recordFor(1.0);
    controller.handleTriggerAction(TriggerAction::finish);
    rig.loop.runUntilIdle();
    auto upload = rig.backends.last();
    ASSERT_TRUE(upload);
    EXPECT_EQ(upload->backendName, QStringLiteral("openai"));
    ASSERT_TRUE(upload->source->isFile());
    EXPECT_TRUE(QFile::exists(upload->source->asFile()->path));

    upload->final(QStringLiteral("from the service"));
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.cleanupCalls, 0);
    EXPECT_EQ(rig.keys.pastedTexts(), QStringList{QStringLiteral("from the service")});
    EXPECT_FALSE(QFile::exists(upload->source->asFile()->path));
}

TEST_F(DictationControllerTest, AStartWhileBusyIsRefusedButClearsTheTimers)
{
    ASSERT_TRUE(rig.startLive());
    rig.clearEvents();
    controller.startDictation();
    EXPECT_TRUE(rig.events().empty());
    EXPECT_TRUE(controller.isRecording());

    recordFor(1.0);
    controller.handleTriggerAction(TriggerAction::finish);
    rig.backends.last()->final(QStringLiteral("first"));
    rig.loop.runUntilIdle();
    ASSERT_TRUE(controller.isDoneFlashPending());

    // A new take during the done flash is accepted and ends the flash.
    ASSERT_TRUE(rig.startLive());
    EXPECT_FALSE(controller.isDoneFlashPending());
    rig.advance(2.0);
    EXPECT_TRUE(controller.pillState().is(Kind::listening));
}

TEST_F(DictationControllerTest, TheWatchdogWaitsHalfTheTakeButAtLeast135Seconds)
{
    EXPECT_EQ(DictationController::watchdogDelay(400), std::chrono::seconds(200));
    EXPECT_EQ(DictationController::watchdogDelay(10), std::chrono::seconds(135));
    EXPECT_EQ(DictationController::watchdogDelay(std::nan("")), std::chrono::seconds(135));
}

TEST_F(DictationControllerTest, TheHotkeyTapDrivesTakesAndReportsItsState)
{
    EXPECT_TRUE(controller.ensureHotkeyTapRunning());
    EXPECT_TRUE(controller.tapRunning());
    EXPECT_TRUE(controller.ensureHotkeyTapRunning());
    EXPECT_EQ(rig.eventTap.startCount(), 1);

    rig.eventTap.emitDisabled(platform::EventTap::DisabledReason::timeout);
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::hotkeyTapDisabled).value(QStringLiteral("reason")),
              QStringLiteral("timeout"));
}

TEST(DictationControllerRefusedTapTest, ARefusedTapReadsAsNotRunning)
{
    FakeDictationServices rig;
    rig.eventTap.setRefusesStart(true);
    EXPECT_FALSE(rig.controller->ensureHotkeyTapRunning());
    EXPECT_FALSE(rig.controller->tapRunning());
    rig.eventTap.setRefusesStart(false);
    EXPECT_TRUE(rig.controller->ensureHotkeyTapRunning());
}

// Until History's save of its text is on disk, the take's file is the only lasting copy of the words:
// a kill before that must leave it for the next start, and a save that fails keeps it until a later save
// holding the words is on disk. The user is told once that History cannot be saved.
TEST(DictationControllerDeliveryTest, ATakeFileGoesOnlyOnceHistoryHoldsItsTextOnDisk)
{
    enum class History { saved, unwritable };
    const struct {
        const char *name;
        bool screenLocked; // the paste is refused
        History history;
        bool statisticsUnwritable = false;
    } cases[] = {{"pasted", false, History::saved},
                 {"paste refused", true, History::saved},
                 {"History cannot be written", false, History::unwritable},
                 {"the statistics cannot be written", false, History::saved, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // History's saves queue behind a write that waits for the test. It outlives the controller,
        // which may still hand it a take file as it ends.
        const QTemporaryDir heldFolder;
        zq::test::HeldStoreWriter held(heldFolder.filePath(QStringLiteral("held.json")));
        FakeDictationServices r;
        r.history->setWriter(&held.writer);
        if (c.history == History::unwritable) {
            ASSERT_TRUE(QDir().mkpath(r.history->filePath()));
        }
        if (c.statisticsUnwritable) {
            ASSERT_TRUE(QDir().mkpath(r.stats->filePath()));
        }
        r.screenLock.setLocked(c.screenLocked);
        const auto take = [&](const QString &words) {
            ASSERT_TRUE(r.startLive());
            for (int i = 0; i < 15; ++i) {
                r.advance(0.1);
                r.deliver(1);
            }
            r.controller->handleTriggerAction(TriggerAction::finish);
            r.backends.last()->final(words);
            r.loop.runUntilIdle();
            r.advance(std::chrono::duration<double>(Paster::fetchWaitLimit).count());
        };
        const auto notices = [&](const QString &store) {
            return std::count_if(r.notifications.posted().begin(), r.notifications.posted().end(), [&](const auto &n) {
                return n.content.title == QStringLiteral("Couldn't save your ") + store;
            });
        };
        take(QStringLiteral("kept words"));
        ASSERT_EQ(r.history->items().size(), 1);
        ASSERT_EQ(r.takeFiles().size(), 1) << "gone while History's save still waits";
        // What a quit that this save outran leaves behind.
        const QString leftTake = r.takeDirectory() + QLatin1Char('/') + r.takeFiles().front();
        ASSERT_TRUE(QFile::copy(leftTake, r.dir.filePath(QStringLiteral("left.wav"))));

        held.release();
        r.history->setWriter(nullptr);
        r.loop.runUntilIdle();
        if (c.history == History::unwritable) {
            EXPECT_EQ(r.takeFiles().size(), 1) << "History does not hold the words: the take does";
            take(QStringLiteral("more words"));
            EXPECT_EQ(r.takeFiles().size(), 2);
            EXPECT_EQ(notices(QStringLiteral("history")), 1) << "told of each failed save, or never";
            // Writable again: the next save holds every take's words.
            ASSERT_TRUE(QDir(r.history->filePath()).removeRecursively());
            take(QStringLiteral("last words"));
            EXPECT_TRUE(r.takeFiles().isEmpty()) << "the saved words came back as interrupted takes";
            EXPECT_EQ(HistoryStore(r.dir.filePath(QStringLiteral("data")), r.loop.clocks()).items().size(), 3);
            continue;
        }
        EXPECT_EQ(notices(QStringLiteral("history")), 0);
        EXPECT_TRUE(r.takeFiles().isEmpty());
        ASSERT_TRUE(QFile::rename(r.dir.filePath(QStringLiteral("left.wav")), leftTake));
        EXPECT_EQ(r.controller->keepLeftoverTakes({leftTake}), 0) << "the next start finds its words in History";
        EXPECT_TRUE(r.takeFiles().isEmpty());
        EXPECT_EQ(HistoryStore(r.dir.filePath(QStringLiteral("data")), r.loop.clocks()).latestText(),
                  QStringLiteral("Cleaned: kept words"));
        take(QStringLiteral("more words"));
        r.loop.runUntilIdle();
        EXPECT_EQ(notices(QStringLiteral("statistics")), c.statisticsUnwritable ? 1 : 0)
            << "told of each failed save, or never";
    }
}

// Once the text is pasted, the take is in the history at once and the trigger is free; what only a paste
// the front window fetched does (the statistics, "paste_succeeded", the done pill) waits for the paster to
// tell how the paste ended, and shows in the pill only while nothing else has taken it since. A text given
// up unfetched under a newer take is still told, also when that take is refused at its start; "press … to
// insert it" only while the clipboard holds it, History otherwise. A fetch after the text was given up
// counts it after all and takes the pill's notice back. A second take's paste waits for the first text's
// fetch, which its text would otherwise answer. The takes run through the hotkey tap, so that a trigger
// still done after the paste would be heard.
TEST_F(DictationControllerTest, WhatFollowsAPasteWaitsForTheFetchAndNothingElse)
{
    using namespace trigger_test;
    // What the window in front got with each fetch.
    QStringList windowGot;
    const auto fetch = [&](FakeDictationServices &r) {
        windowGot << r.pasteboard.text();
        r.pasteboard.fetchFromOtherApplication();
    };
    // Fn down and up, at event times of their own.
    const auto fn = [](FakeDictationServices &r, bool down, double at) {
        r.eventTap.emitEvent(flagsChanged(KeyCode::function, down ? ModifierFlag::function : 0, at));
        r.loop.runUntilIdle();
    };
    // The new take is brought live before the wait runs out, so that only the wait's end can fail it,
    // not a microphone that had no time to start.
    const auto press = [&](FakeDictationServices &r) {
        fn(r, true, 10.0);
        EXPECT_TRUE(r.bringLive());
    };
    const auto secondTake = [&](FakeDictationServices &r) {
        press(r);
        for (int i = 0; i < 15; ++i) {
            r.advance(0.1);
            r.deliver(1);
        }
        fn(r, false, 12.0);
        r.backends.last()->final(QStringLiteral("second words"));
        r.loop.runUntilIdle();
        EXPECT_EQ(r.history->items().size(), 2);
        EXPECT_EQ(r.keys.chordCount(), 1) << "the second text replaced the first before its fetch";
    };
    const auto escape = [](FakeDictationServices &r) {
        r.eventTap.emitEvent(keyDown(KeyCode::escape, 11.0));
        r.loop.runUntilIdle();
    };
    const QString first = QStringLiteral("Cleaned: pasted words");
    const QString second = QStringLiteral("Cleaned: second words");
    // The bodies of the notices posted.
    const QString pressCtrlV = QStringLiteral("The window did not take it. Press Ctrl+V to insert it.");
    const QString inHistory = QStringLiteral("The window did not take it. Saved in History. Open History to copy it.");
    const QString refused = QStringLiteral("Turn ZEPA QUARN on in Settings \u2192 Privacy \u2192 Microphone.");
    struct Case {
        const char *name;
        int succeeded;
        int notFetched;
        QStringList notices;
        std::optional<Kind> pill; // right after `next`
        bool mutedInTheEnd;
        QStringList windowGets;
        std::function<void(FakeDictationServices &)> next;
    };
    const auto fetchLate = [&](FakeDictationServices &r) {
        r.advance(3.0);
        fetch(r);
    };
    const auto pressThenFetch = [&](FakeDictationServices &r) {
        press(r);
        fetch(r);
    };
    const auto pressThenEscape = [&](FakeDictationServices &r) {
        press(r);
        escape(r);
    };
    const auto cancel = [](FakeDictationServices &r) { r.controller->handleTriggerAction(TriggerAction::cancel); };
    const auto refusedPress = [&](FakeDictationServices &r) {
        r.microphone.status = platform::MicrophoneAuthorization::denied;
        fn(r, true, 10.0);
    };
    const auto fetchAfterTheLimit = [&](FakeDictationServices &r) {
        r.advance(std::chrono::duration<double>(Paster::fetchWaitLimit).count());
        EXPECT_TRUE(r.controller->pillState().is(Kind::muted));
        fetch(r);
        ASSERT_EQ(r.notifications.posted().size(), 1u);
        EXPECT_EQ(r.notifications.removed(), std::vector{r.notifications.posted().front().identifier});
    };
    const auto copyFromHistory = [](FakeDictationServices &r) {
        ASSERT_TRUE(DictationController::copyToPasteboard(r.pasteboard, QStringLiteral("from History")));
    };
    const auto secondTakeBothFetched = [&](FakeDictationServices &r) {
        secondTake(r);
        fetch(r);
        r.advance(0.05);
        fetch(r);
    };
    const auto secondTakeNoFetch = [&](FakeDictationServices &r) {
        secondTake(r);
        r.advance(2.6); // 5.1 s after the first paste: given up, and the second posted
        EXPECT_EQ(r.keys.pastedTexts(), (QStringList{first, second}));
    };
    // The take is in the history; the owner hears nothing from an object on its way out.
    const auto controllersEnd = [](FakeDictationServices &r) {
        int told = 0;
        QObject::connect(r.controller.get(), &DictationController::pillStateChanged, r.controller.get(),
                         [&] { ++told; });
        r.controller.reset();
        EXPECT_EQ(told, 0) << "a controller on its way out told of its pill";
    };
    const std::vector<Case> cases = {
        {"the window fetches", 1, 0, {}, Kind::done, false, {first}, fetch},
        {"the window fetches late", 1, 0, {}, Kind::done, false, {first}, fetchLate},
        {"a new press, then the fetch", 1, 0, {}, Kind::listening, false, {first}, pressThenFetch},
        {"a new press, and no fetch", 0, 1, {pressCtrlV}, Kind::listening, false, {}, press},
        {"a new press, then escape", 0, 1, {pressCtrlV}, Kind::hidden, false, {}, pressThenEscape},
        {"a new press refused at its start", 0, 1, {refused, pressCtrlV}, Kind::muted, false, {}, refusedPress},
        {"escape", 0, 1, {}, Kind::hidden, false, {}, cancel},
        {"the window fetches after the limit", 1, 1, {pressCtrlV}, Kind::hidden, false, {first}, fetchAfterTheLimit},
        // The window pastes the user's own copy: the take is not in it.
        {"a copy from History meanwhile", 0, 1, {inHistory}, Kind::thinking, false, {}, copyFromHistory},
        {"a second take pasted, then both fetched",
         2,
         0,
         {},
         Kind::done,
         false,
         {first, second},
         secondTakeBothFetched},
        // The first is told from under the second take, which replaced it on the clipboard; the second in the pill.
        {"a second take pasted, and no fetch",
         0,
         2,
         {inHistory, pressCtrlV},
         Kind::thinking,
         true,
         {},
         secondTakeNoFetch},
        {"the controller's end", 0, 0, {}, std::nullopt, false, {}, controllersEnd},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        windowGot.clear();
        FakeDictationServices r;
        r.pasteboard.tellFetches();
        ASSERT_TRUE(r.controller->ensureHotkeyTapRunning());
        fn(r, true, 1.0);
        ASSERT_TRUE(r.bringLive());
        for (int i = 0; i < 15; ++i) {
            r.advance(0.1);
            r.deliver(1);
        }
        fn(r, false, 3.0);
        ASSERT_FALSE(r.controller->isRecording()) << "the release did not finish the take";
        r.backends.last()->final(QStringLiteral("pasted words"));
        r.loop.runUntilIdle();
        ASSERT_EQ(r.keys.pastedTexts(), QStringList{first});
        ASSERT_EQ(r.history->items().size(), 1) << "the history waited for the fetch";
        EXPECT_EQ(r.history->items().front().text, first);
        EXPECT_TRUE(r.takeFiles().isEmpty()) << "the take's file outlived History's save of its text";
        EXPECT_EQ(r.count(DiagnosticEvent::pasteSucceeded), 0);
        EXPECT_TRUE(r.stats->days().isEmpty());
        EXPECT_TRUE(r.controller->pillState().is(Kind::thinking));
        EXPECT_FALSE(r.controller->isWatchdogArmed());
        EXPECT_FALSE(r.controller->keepInterruptedTake()) << "a quit now keeps the delivered take as interrupted";
        r.advance(1.0);
        EXPECT_EQ(r.count(DiagnosticEvent::pasteSucceeded), 0) << "the wait ended early";

        c.next(r);
        if (c.pill) {
            EXPECT_TRUE(r.controller->pillState().is(*c.pill));
        }
        if (r.controller)
            r.advance(std::chrono::duration<double>(Paster::fetchWaitLimit).count());
        EXPECT_EQ(r.count(DiagnosticEvent::pasteSucceeded), c.succeeded);
        EXPECT_EQ(r.count(DiagnosticEvent::pasteFallback), c.notFetched);
        QStringList notices;
        for (const auto &posted : r.notifications.posted())
            notices << posted.content.body;
        EXPECT_EQ(notices, c.notices);
        qint64 takesCounted = 0;
        for (const DayStats &day : r.stats->days())
            takesCounted += day.takes;
        EXPECT_EQ(takesCounted, c.succeeded);
        EXPECT_EQ(windowGot.join(QLatin1Char('|')), c.windowGets.join(QLatin1Char('|')));
        if (r.controller) {
            EXPECT_EQ(r.controller->pillState().is(Kind::muted), c.mutedInTheEnd)
                << "the end of the wait failed what came next, or was not told";
        }
    }
}

} // namespace
