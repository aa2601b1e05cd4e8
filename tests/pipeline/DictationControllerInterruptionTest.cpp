// A take the application interrupts (quit, logout, a lost display) keeps its recording.

#include "pipeline/DictationController.h"

#include "records/IncidentPresentation.h"
#include "records/IncidentStore.h"
#include "support/DictationControllerFixture.h"
#include "support/TestFiles.h"
#include "support/TriggerTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QUuid>

#include <gtest/gtest.h>

#include <functional>

using namespace zq;
using namespace zq::test;

namespace {

class DictationControllerInterruptionTest;

// The length a WAV file's RIFF header gives for the whole file; a file whose header was never
// completed still gives that of an empty one.
qint64 riffLength(const QByteArray &wav)
{
    if (wav.size() < 8 || !wav.startsWith("RIFF"))
        return -1;
    const auto byte = [&](int i) { return quint32(quint8(wav[i])); };
    return qint64(byte(4) | byte(5) << 8 | byte(6) << 16 | byte(7) << 24) + 8;
}

struct InterruptionCase {
    const char *name;
    // Brings the controller to the moment of the quit.
    std::function<void(DictationControllerInterruptionTest &)> reach;
    bool kept;
    // The final text History gains with the quit, if any.
    const char *finishedText = nullptr;
};

void PrintTo(const InterruptionCase &c, std::ostream *os)
{
    *os << c.name;
}

class DictationControllerInterruptionTest : public DictationControllerFixture,
                                            public ::testing::WithParamInterface<InterruptionCase> {
public:
    // The fixture's state and helpers, for the cases.
    FakeDictationServices &services() { return rig; }
    DictationController &dictation() { return controller; }
    void startLive() { ASSERT_TRUE(rig.startLive()); }
    void record(double seconds) { recordFor(seconds); }
    void capture() { captureTake(1.5); }
};

TEST_P(DictationControllerInterruptionTest, KeepsATakeWithAudioButNoTextAsAnIncidentWithItsRecording)
{
    const InterruptionCase &c = GetParam();
    // As in the application, a streamed take's file closes on a queue of its own: here, one that
    // has not run yet when the take is kept.
    rig.engine->setTakeFileCloser(&rig.loop);
    c.reach(*this);
    if (HasFatalFailure())
        return;
    const qsizetype incidentsBefore = rig.incidents->items().size();
    const qsizetype historyBefore = rig.history->items().size();
    const std::size_t noticesBefore = rig.notifications.posted().size();
    rig.clearEvents();
    EXPECT_EQ(rig.escapeGrab.isHeld, controller.isRecording()) << "Escape is the take's exactly while it records";

    EXPECT_EQ(controller.keepInterruptedTake(), c.kept);
    EXPECT_FALSE(rig.escapeGrab.isHeld) << "Escape goes back to the windows at quit";

    EXPECT_FALSE(controller.takeFilePath().has_value());
    EXPECT_TRUE(rig.takeFiles().isEmpty())
        << "nothing is left for the next start to sweep: " << rig.takeFiles().join(u' ').toStdString();
    EXPECT_EQ(rig.notifications.posted().size(), noticesBefore) << "a quit posts no notice";
    EXPECT_EQ(rig.history->items().size(), historyBefore + (c.finishedText ? 1 : 0));
    if (c.finishedText) {
        EXPECT_EQ(rig.history->items().front().text, QString::fromUtf8(c.finishedText));
    }
    if (!c.kept) {
        EXPECT_EQ(rig.incidents->items().size(), incidentsBefore);
        EXPECT_EQ(rig.count(DiagnosticEvent::dictationFailed), 0);
        return;
    }
    ASSERT_EQ(rig.incidents->items().size(), incidentsBefore + 1);
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationFailed).value(QStringLiteral("reason")),
              QStringLiteral("interrupted"));
    const DictationIncident incident = rig.incidents->items().front();
    const IncidentPresentation expected = IncidentPresentation::interrupted();
    EXPECT_EQ(incident.code, expected.code);
    EXPECT_EQ(incident.title, QStringLiteral("Transcription interrupted"));
    EXPECT_EQ(incident.nextStep, expected.nextStep);
    EXPECT_EQ(incident.backend, QStringLiteral("local"));
    EXPECT_EQ(incident.language, QStringLiteral("auto"));
    EXPECT_FALSE(incident.isRead);
    ASSERT_TRUE(rig.incidents->recordingURL(incident).has_value()) << "Retry needs the recording";
    const QByteArray wav = readFile(*rig.incidents->recordingURL(incident));
    EXPECT_GT(wav.size(), 44) << "more than a WAV header";
    EXPECT_EQ(riffLength(wav), wav.size()) << "the header holds the recording's real length";
    EXPECT_FALSE(controller.isTranscribing());
    EXPECT_FALSE(controller.isWatchdogArmed());

    // Written at once: the next start reads the incident and keeps its recording.
    const IncidentStore reopened(rig.incidents->directory());
    ASSERT_FALSE(reopened.items().isEmpty());
    EXPECT_EQ(reopened.items().front().id, incident.id);
    EXPECT_TRUE(reopened.recordingURL(incident).has_value());
}

// What killed runs left: only the newest can stay among the five incidents, so the older ones are
// dropped at once instead of being kept and trimmed away, and the kept ones are ordered by date.
TEST(DictationControllerLeftoverTest, KeepsTheNewestLeftoverTakesInTheirOrder)
{
    FakeDictationServices rig;
    QStringList takes;
    for (int i = 0; i < 8; ++i) {
        // Found in no particular order: the names do not follow the dates.
        const QString path =
            rig.takeDirectory() +
            QStringLiteral("/zepaquarn-%1.wav").arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.write(QByteArray(100, char('a' + i))) && file.flush());
        ASSERT_TRUE(
            file.setFileTime(QDateTime(QDate(2026, 3, 2), QTime(9, (i * 5) % 8)), QFileDevice::FileModificationTime));
        takes << path;
    }
    // The newest was pasted, left by a quit that its History save outran, which reached the disk after all.
    const QUuid pasted = QUuid::createUuid();
    const QString pastedTake =
        rig.takeDirectory() + QStringLiteral("/zepaquarn-%1.wav").arg(pasted.toString(QUuid::WithoutBraces).toUpper());
    zq::test::writeFile(pastedTake, QByteArray(100, 'p'));
    rig.history->add(QStringLiteral("pasted words"), pasted);
    takes.insert(3, pastedTake);
    rig.clearEvents();

    EXPECT_EQ(rig.controller->keepLeftoverTakes(takes), 5) << "words in History are no interrupted take";

    EXPECT_EQ(rig.count(DiagnosticEvent::dictationFailed), 5);
    EXPECT_TRUE(rig.takeFiles().isEmpty()) << "the dropped ones are not found again at the next start";
    const QList<DictationIncident> items = IncidentStore(rig.incidents->directory()).items();
    ASSERT_EQ(items.size(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(items[i].date, QDateTime(QDate(2026, 3, 2), QTime(9, 7 - i))) << "newest first";
        ASSERT_TRUE(rig.incidents->recordingURL(items[i]).has_value());
        QFile kept(*rig.incidents->recordingURL(items[i]));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray(100, char('a' + (7 - i) * 5 % 8))) << "with its own recording";
    }
    EXPECT_EQ(QDir(rig.incidents->recordingsDirectory()).entryList(QDir::Files).size(), 5);
}

INSTANTIATE_TEST_SUITE_P(
    Phases, DictationControllerInterruptionTest,
    ::testing::Values(
        InterruptionCase{"idle", [](DictationControllerInterruptionTest &) {}, false},
        InterruptionCase{"audioStartPending",
                         [](DictationControllerInterruptionTest &t) { t.dictation().startDictation(); }, false},
        // What was heard so far is the recording.
        InterruptionCase{"recording",
                         [](DictationControllerInterruptionTest &t) {
                             t.startLive();
                             t.record(2.0);
                         },
                         true},
        // The trigger's own display connection notices a dying X server first: that is no cancel.
        InterruptionCase{"recordingWhenTheTapLosesItsDisplay",
                         [](DictationControllerInterruptionTest &t) {
                             ASSERT_TRUE(t.dictation().ensureHotkeyTapRunning());
                             t.services().eventTap.emitEvent(
                                 trigger_test::flagsChanged(KeyCode::function, ModifierFlag::function, 1.0));
                             t.services().loop.runUntil([&t] { return t.dictation().isAudioStartPending(); },
                                                        std::chrono::seconds(5));
                             ASSERT_TRUE(t.services().bringLive());
                             t.record(2.0);
                             t.services().eventTap.emitDisabled(platform::EventTap::DisabledReason::connectionLost);
                             t.services().loop.runUntilIdle();
                         },
                         true},
        InterruptionCase{"transcribing", [](DictationControllerInterruptionTest &t) { t.capture(); }, true},
        // The text is final but not yet pasted: History keeps it, as it came.
        InterruptionCase{"cleaningUp",
                         [](DictationControllerInterruptionTest &t) {
                             t.capture();
                             t.services().cleanupSeconds = 5;
                             t.services().backends.last()->final(QStringLiteral("spoken words"));
                             t.services().loop.runUntilIdle();
                             ASSERT_EQ(t.services().cleanupCalls, 1);
                         },
                         true, "spoken words"},
        // Delivered: the text is in the window and the history; nothing is left to keep.
        InterruptionCase{"done",
                         [](DictationControllerInterruptionTest &t) {
                             t.capture();
                             t.services().backends.last()->final(QStringLiteral("spoken words"));
                             t.services().loop.runUntilIdle();
                             ASSERT_EQ(t.services().keys.pastedTexts().size(), 1);
                         },
                         false},
        // The failure already kept the recording with its own incident.
        InterruptionCase{"failedAlready",
                         [](DictationControllerInterruptionTest &t) {
                             t.capture();
                             t.services().advance(136);
                             ASSERT_EQ(t.services().incidents->items().size(), 1);
                         },
                         false}),
    [](const ::testing::TestParamInfo<InterruptionCase> &info) { return std::string(info.param.name); });

} // namespace
