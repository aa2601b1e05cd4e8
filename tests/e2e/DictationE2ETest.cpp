// Dictation through the real application: a key held on the X display, speech fed into the
// sound server's microphone, text arriving in another application's focused text field.
#include "menubar/brand/Palette.h"
#include "records/DiagnosticEvent.h"
#include "support/E2EEnvironment.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/ViewRender.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QJsonDocument>
#include <QThread>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>

#include <memory>

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::DiagnosticRecord;
using zq::test::E2EEnvironment;
using zq::test::Microphone;

namespace {

const QString kClipboardBefore = QStringLiteral("kept on the clipboard — ünïcödé ✓");

class DictationE2ETest : public ::testing::Test {
protected:
    // Starts the services and the application, with the target window in front holding a known
    // clipboard. Ends the test (skip or failure) when something cannot start.
    void startEverything(Microphone microphone)
    {
        env = std::make_unique<E2EEnvironment>(microphone);
        const bool started = env->start();
        if (!zq::test::requireService(started, env->errorString()))
            return;
        ASSERT_FALSE(E2EEnvironment::speechSamples().empty())
            << "missing " << E2EEnvironment::speechPath().toStdString();
        ASSERT_TRUE(env->writeSettings()) << env->errorString().toStdString();
        ASSERT_TRUE(env->startApp()) << env->errorString().toStdString();
        // The application may open a window of its own at launch; the user's window is in front again.
        ASSERT_TRUE(env->target().activate()) << "the target window cannot take the keyboard focus";
        ASSERT_TRUE(env->target().setClipboard(kClipboardBefore));
    }

    bool ready() const { return env && !HasFatalFailure() && !IsSkipped(); }

    // Presses and holds the trigger, or taps it, with the user's window in front.
    void holdTrigger()
    {
        ASSERT_TRUE(env->target().isActive()) << "another window took the keyboard focus";
        ASSERT_TRUE(env->pressTrigger());
    }
    void tapTrigger()
    {
        ASSERT_TRUE(env->target().isActive()) << "another window took the keyboard focus";
        ASSERT_TRUE(env->tapKey(E2EEnvironment::kTriggerKeyName));
    }

    // Speaks the recording into the live take: a moment of room noise first and after, as a person
    // pauses around a sentence. The take must already be live (`liveTakes` audio starts so far).
    void speakIntoTake(int liveTakes)
    {
        ASSERT_TRUE(
            env->waitForJournal(DiagnosticEvent::audioStartCompleted, liveTakes, zq::test::kLoadedMachineTimeout))
            << "the take's audio never started; log:\n"
            << env->appLogTail().toStdString();
        ASSERT_TRUE(env->speakIntoTake(E2EEnvironment::speechSamples()))
            << env->errorString().toStdString() << "; log:\n"
            << env->appLogTail().toStdString();
    }

    // The screen as the user sees it, kept with the view renders: the pill must be up on it.
    void screenshotWithThePill(const QString &name)
    {
        QProcessEnvironment display = QProcessEnvironment::systemEnvironment();
        display.insert(QStringLiteral("DISPLAY"), env->display());
        const auto pill = zq::test::runTool(QStringLiteral("xdotool"),
                                            {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                             QStringLiteral("--name"), QStringLiteral("ZEPA QUARN pill")},
                                            display);
        EXPECT_TRUE(pill.succeeded()) << "no pill on the screen while listening";
        const QString path = zq::test::viewRenderDir() + QLatin1Char('/') + name + QStringLiteral(".png");
        // Xvfb's screen is 1280 × 800: the capsule sits centred 74 points above its bottom, filled with
        // the default skin's raised surface below the mark and the meter. A loaded machine may map the
        // window a moment before it first paints it (black without a compositor): shoot until it shows.
        QColor fill;
        const auto capsuleShown = [&] {
            const auto shot = zq::test::runTool(QStringLiteral("import"),
                                                {QStringLiteral("-window"), QStringLiteral("root"), path}, display);
            if (!shot.succeeded())
                return false;
            fill = QImage(path).pixelColor(640, 740);
            return zq::test::sameColor(fill, zq::Palette::color(zq::Palette::surfaceRaised, zq::ColorScheme::light),
                                       3) ||
                   zq::test::sameColor(fill, zq::Palette::color(zq::Palette::surfaceRaised, zq::ColorScheme::dark), 3);
        };
        EXPECT_TRUE(zq::test::waitFor(capsuleShown, 10s, 200ms))
            << "the pill's capsule is not where the screen shows " << fill.name().toStdString();
    }

    void expectClipboardRestored()
    {
        const QDeadlineTimer deadline(zq::test::kLoadedMachineTimeout);
        std::optional<QString> clipboard;
        do {
            clipboard = env->target().clipboard();
            if (clipboard == kClipboardBefore)
                return;
            QThread::msleep(100);
        } while (!deadline.hasExpired());
        ADD_FAILURE() << "the clipboard holds \"" << clipboard.value_or(QStringLiteral("<no answer>")).toStdString()
                      << "\" instead of what it held before the take";
    }

    // Waits until the history file holds `count` items.
    QJsonArray waitForHistory(int count)
    {
        const QDeadlineTimer deadline(zq::test::kLoadedMachineTimeout);
        QJsonArray items = env->history();
        while (items.size() < count && !deadline.hasExpired()) {
            QThread::msleep(50);
            items = env->history();
        }
        return items;
    }

    // The journal's event names after the launch, in order.
    QStringList takeEvents() const
    {
        QStringList names;
        for (const DiagnosticRecord &record : env->journal()) {
            if (record.event != DiagnosticEvent::appLaunched)
                names << zq::rawValue(record.event);
        }
        return names;
    }

    static bool containsInOrder(const QStringList &events, const QStringList &expected)
    {
        qsizetype from = 0;
        for (const QString &name : expected) {
            from = events.indexOf(name, from);
            if (from < 0)
                return false;
            ++from;
        }
        return true;
    }

    std::unique_ptr<E2EEnvironment> env;
};

} // namespace

TEST_F(DictationE2ETest, HeldTriggerPutsTheSpokenWordsIntoTheFrontWindowAndRecordsTheTake)
{
    startEverything(Microphone::Live);
    if (!ready())
        return;

    holdTrigger();
    speakIntoTake(1);
    if (HasFatalFailure())
        return;
    screenshotWithThePill(QStringLiteral("e2e-pill-listening"));
    ASSERT_TRUE(env->releaseTrigger());

    const auto pasted = env->target().waitForText(E2EEnvironment::isSpeechWords, zq::test::kLoadedMachineTimeout);
    ASSERT_TRUE(pasted) << "the field holds \"" << env->target().text().toStdString() << "\"; log:\n"
                        << env->appLogTail().toStdString();
    expectClipboardRestored();

    const QJsonArray history = waitForHistory(1);
    ASSERT_EQ(history.size(), 1);
    EXPECT_TRUE(E2EEnvironment::isSpeechWords(history.at(0).toObject().value(QStringLiteral("text")).toString()));

    ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::pasteSucceeded, 1, zq::test::kLoadedMachineTimeout));
    const QStringList events = takeEvents();
    EXPECT_TRUE(
        containsInOrder(events, {QStringLiteral("dictation_requested"), QStringLiteral("audio_start_completed"),
                                 QStringLiteral("dictation_finish_requested"), QStringLiteral("capture_completed"),
                                 QStringLiteral("transcription_completed"), QStringLiteral("paste_succeeded")}))
        << events.join(QLatin1Char(' ')).toStdString();
    for (const DiagnosticRecord &record : env->journal()) {
        if (record.event == DiagnosticEvent::dictationRequested || record.event == DiagnosticEvent::captureCompleted) {
            EXPECT_EQ(record.metadata.value(QStringLiteral("backend")), QStringLiteral("local"));
        }
    }

    // One committed take of four words, as long as what was held (speech and the pauses around it).
    const QJsonObject days = env->stats().value(QStringLiteral("days")).toObject();
    ASSERT_EQ(days.size(), 1) << "stats.json: " << QJsonDocument(env->stats()).toJson().toStdString();
    const QJsonObject day = days.begin().value().toObject();
    EXPECT_EQ(day.value(QStringLiteral("takes")).toInteger(), 1);
    EXPECT_EQ(day.value(QStringLiteral("words")).toInteger(), 4);
    const qint64 speechMs = qint64(E2EEnvironment::speechSamples().size()) * 1000 / 16000;
    EXPECT_GE(day.value(QStringLiteral("speakingMs")).toInteger(), speechMs);
    EXPECT_LT(day.value(QStringLiteral("speakingMs")).toInteger(), 30000);

    EXPECT_TRUE(env->incidents().isEmpty());
    EXPECT_TRUE(env->notifications().notifications().empty());
    // A clipboard manager that never answers: the restored clipboard is offered to it once, and the
    // toolkit's teardown does not wait for it again.
    const std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t *)> manager(
        xcb_connect(qPrintable(env->display()), nullptr), &xcb_disconnect);
    ASSERT_EQ(xcb_connection_has_error(manager.get()), 0);
    const xcb_window_t managerWindow = xcb_generate_id(manager.get());
    xcb_create_window(manager.get(), XCB_COPY_FROM_PARENT, managerWindow,
                      xcb_setup_roots_iterator(xcb_get_setup(manager.get())).data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const std::unique_ptr<xcb_intern_atom_reply_t, void (*)(void *)> managerAtom(
        xcb_intern_atom_reply(manager.get(), xcb_intern_atom(manager.get(), 0, 17, "CLIPBOARD_MANAGER"), nullptr),
        &std::free);
    ASSERT_TRUE(managerAtom);
    xcb_set_selection_owner(manager.get(), managerWindow, managerAtom->atom, XCB_CURRENT_TIME);
    std::free(xcb_get_input_focus_reply(manager.get(), xcb_get_input_focus(manager.get()), nullptr));
    EXPECT_TRUE(env->stopApp()) << "the application did not quit cleanly after the take";
    EXPECT_TRUE(env->waitForAppLog(QByteArrayLiteral("the clipboard manager did not answer in time"), 0ms))
        << "the restored clipboard was not offered to a clipboard manager at quit; log:\n"
        << env->appLogTail().toStdString();
    std::free(xcb_get_input_focus_reply(manager.get(), xcb_get_input_focus(manager.get()), nullptr));
    int asked = 0;
    while (xcb_generic_event_t *event = xcb_poll_for_event(manager.get())) {
        asked += (event->response_type & 0x7f) == XCB_SELECTION_REQUEST;
        std::free(event);
    }
    EXPECT_EQ(asked, 1) << "asked again by the toolkit's teardown, which waits 5 s for the answer";
}

TEST_F(DictationE2ETest, MuteMicrophoneStoresANoAudioIncidentAndPostsANotification)
{
    startEverything(Microphone::Mute);
    if (!ready())
        return;

    // Held well past an accidental press, but released while the application still waits for the
    // microphone's first sound.
    holdTrigger();
    if (HasFatalFailure())
        return;
    QThread::msleep(1200);
    ASSERT_TRUE(env->releaseTrigger());

    ASSERT_TRUE(env->notifications().waitForNotifications(1, zq::test::kLoadedMachineTimeout))
        << "no notification; log:\n"
        << env->appLogTail().toStdString();
    const auto notice = env->notifications().notifications().front();
    EXPECT_EQ(notice.summary, QStringLiteral("No audio captured"));
    EXPECT_EQ(notice.body, QStringLiteral("Nothing reached the microphone. Check the input device in the menu."));

    const QDeadlineTimer deadline(zq::test::kLoadedMachineTimeout);
    QJsonArray incidents = env->incidents();
    while (incidents.isEmpty() && !deadline.hasExpired()) {
        QThread::msleep(50);
        incidents = env->incidents();
    }
    ASSERT_EQ(incidents.size(), 1) << "log:\n" << env->appLogTail().toStdString();
    const QJsonObject incident = incidents.at(0).toObject();
    EXPECT_EQ(incident.value(QStringLiteral("code")).toString(), QStringLiteral("ZQ-MIC-NO-AUDIO"));
    EXPECT_EQ(incident.value(QStringLiteral("backend")).toString(), QStringLiteral("local"));
    EXPECT_TRUE(incident.value(QStringLiteral("recordingFilename")).isNull() ||
                incident.value(QStringLiteral("recordingFilename")).isUndefined());

    ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::dictationFailed, 1, zq::test::kLoadedMachineTimeout));
    for (const DiagnosticRecord &record : env->journal()) {
        if (record.event == DiagnosticEvent::dictationFailed) {
            EXPECT_EQ(record.metadata.value(QStringLiteral("reason")), QStringLiteral("no_audio_captured"));
        }
    }

    env->target().collectFor(2s);
    EXPECT_TRUE(env->target().textChanges().empty()) << "text arrived: " << env->target().text().toStdString();
    EXPECT_EQ(env->target().clipboard(), kClipboardBefore);
    EXPECT_TRUE(env->history().isEmpty());
}

TEST_F(DictationE2ETest, TapLocksTheTakeAndTheNextPressFinishesIt)
{
    startEverything(Microphone::Live);
    if (!ready())
        return;

    tapTrigger();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::dictationLocked, 1, zq::test::kLoadedMachineTimeout))
        << "log:\n"
        << env->appLogTail().toStdString();
    // Hands free: nothing is held while the user speaks.
    speakIntoTake(1);
    if (HasFatalFailure())
        return;
    EXPECT_EQ(env->journalCount(DiagnosticEvent::dictationFinishRequested), 0) << "the tap's release finished the take";
    tapTrigger();
    if (HasFatalFailure())
        return;

    ASSERT_TRUE(env->target().waitForText(E2EEnvironment::isSpeechWords, zq::test::kLoadedMachineTimeout))
        << "the field holds \"" << env->target().text().toStdString() << "\"; log:\n"
        << env->appLogTail().toStdString();
    ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::pasteSucceeded, 1, zq::test::kLoadedMachineTimeout));
    EXPECT_EQ(env->journalCount(DiagnosticEvent::dictationFinishRequested), 1);
    expectClipboardRestored();
}

TEST_F(DictationE2ETest, EscapeWhileListeningCancelsWithoutPastingAndTheNextTakeStillWorks)
{
    startEverything(Microphone::Live);
    if (!ready())
        return;

    holdTrigger();
    speakIntoTake(1);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(env->tapKey("Escape"));
    ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::dictationCancelled, 1, zq::test::kLoadedMachineTimeout))
        << "log:\n"
        << env->appLogTail().toStdString();
    // The trigger's release after the cancel must not finish anything.
    ASSERT_TRUE(env->releaseTrigger());

    env->target().collectFor(4s);
    EXPECT_TRUE(env->target().textChanges().empty()) << "pasted after a cancel: " << env->target().text().toStdString();
    EXPECT_EQ(env->target().clipboard(), kClipboardBefore);
    EXPECT_TRUE(env->history().isEmpty());
    EXPECT_TRUE(env->incidents().isEmpty());
    EXPECT_TRUE(env->notifications().notifications().empty());
    EXPECT_EQ(env->journalCount(DiagnosticEvent::dictationFinishRequested), 0);
    EXPECT_EQ(env->journalCount(DiagnosticEvent::pasteSucceeded), 0);

    // The cancelled take left nothing behind that stops the next one.
    holdTrigger();
    speakIntoTake(2);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(env->releaseTrigger());
    ASSERT_TRUE(env->target().waitForText(E2EEnvironment::isSpeechWords, zq::test::kLoadedMachineTimeout))
        << "the field holds \"" << env->target().text().toStdString() << "\"; log:\n"
        << env->appLogTail().toStdString();
    expectClipboardRestored();
    EXPECT_EQ(waitForHistory(1).size(), 1);
    // A paste of the cancelled take that came later than the wait above would show by now.
    ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::pasteSucceeded, 1, zq::test::kLoadedMachineTimeout));
    EXPECT_EQ(env->journalCount(DiagnosticEvent::pasteSucceeded), 1);
}
