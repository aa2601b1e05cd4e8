// The incident row's look over the re-transcription states, its copy confirmation and its actions.
#include "window/support/IncidentRowModel.h"

#include "records/IncidentStore.h"
#include "support/FakeDictationServices.h"
#include "support/TestFiles.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace zq;
using Kind = RecoveredTranscriptionState::Kind;

namespace {

class IncidentRowModelTest : public ::testing::Test {
protected:
    DictationIncident incident(bool withRecording)
    {
        DictationIncident made;
        made.id = QUuid::createUuid();
        made.date = QDateTime(QDate(2026, 3, 2), QTime(9, 5));
        made.code = QStringLiteral("ZQ-TX-TIMEOUT");
        made.title = QStringLiteral("Transcription timed out");
        made.message = QStringLiteral("The engine took too long.");
        made.nextStep = QStringLiteral("Retry the kept recording.");
        made.backend = QStringLiteral("local");
        made.appVersion = QStringLiteral("1.0");
        made.build = QStringLiteral("7");
        if (withRecording) {
            made.recordingFilename = made.id.toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".wav");
            test::writeFile(store.recordingsDirectory() + QLatin1Char('/') + *made.recordingFilename, "RIFF");
        }
        store.insert(made);
        return made;
    }

    std::unique_ptr<IncidentRowModel> row(const DictationIncident &issue)
    {
        return std::make_unique<IncidentRowModel>(issue, store, *rig.controller, rig.pasteboard, rig.loop,
                                                  QLocale(QLocale::English, QLocale::UnitedStates));
    }

    test::FakeDictationServices rig;
    QStringList revealed;
    std::vector<RevealDone> answers; // one per reveal, for the test to give the desktop's answer
    IncidentStore store{rig.dir.filePath(QStringLiteral("RowIncidents")), [this](const QString &path, RevealDone done) {
                            revealed.append(path);
                            answers.push_back(std::move(done));
                        }};
};

TEST_F(IncidentRowModelTest, ControlsFollowTheFiveRetryStatesWithAndWithoutARecording)
{
    const QUuid other = QUuid::createUuid();
    struct Case {
        const char *name;
        std::function<RecoveredTranscriptionState(const QUuid &self)> state;
        bool retrying, retryEnabled, deleteEnabled, failure;
    } cases[] = {
        {"idle", [](const QUuid &) { return RecoveredTranscriptionState::idle(); }, false, true, true, false},
        {"succeeded", [](const QUuid &) { return RecoveredTranscriptionState::succeeded(true); }, false, true, true,
         false},
        {"transcribing this", [](const QUuid &self) { return RecoveredTranscriptionState::transcribing(self); }, true,
         false, false, false},
        {"transcribing another", [&](const QUuid &) { return RecoveredTranscriptionState::transcribing(other); }, false,
         false, true, false},
        {"failed this",
         [](const QUuid &self) { return RecoveredTranscriptionState::failed(self, QStringLiteral("No luck.")); }, false,
         true, true, true},
        {"failed another",
         [&](const QUuid &) { return RecoveredTranscriptionState::failed(other, QStringLiteral("No luck.")); }, false,
         true, true, false},
    };
    for (const bool withRecording : {true, false}) {
        const DictationIncident issue = incident(withRecording);
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.name) + (withRecording ? " with recording" : " without recording"));
            const IncidentRowLook look = incidentRowLook(issue, withRecording, c.state(issue.id), false, QLocale::c());
            EXPECT_EQ(look.hasRecording, withRecording);
            EXPECT_EQ(look.retrying, c.retrying);
            EXPECT_EQ(look.retryEnabled, c.retryEnabled);
            EXPECT_EQ(look.deleteEnabled, c.deleteEnabled);
            EXPECT_EQ(look.failureMessage.has_value(), c.failure);
            EXPECT_EQ(look.failureMessage.value_or(QString()), c.failure ? QStringLiteral("No luck.") : QString());
            EXPECT_EQ(look.retryTitle,
                      c.retrying ? QStringLiteral("Retrying Transcription") : QStringLiteral("Retry Transcription"));
            EXPECT_EQ(look.retryAccessibleName,
                      c.retrying ? QStringLiteral("Retrying transcription") : QStringLiteral("Retry transcription"));
        }
    }
}

TEST_F(IncidentRowModelTest, ARetryThatFailsForTheReasonTheRowGivesDoesNotRepeatIt)
{
    const DictationIncident issue = incident(true);
    const struct {
        QString message;
        QString shown;
    } cases[] = {
        {issue.nextStep, QStringLiteral("Retry failed.")},
        {issue.message + QLatin1Char(' '), QStringLiteral("Retry failed.")},
        {QStringLiteral("The saved recording is no longer available."),
         QStringLiteral("The saved recording is no longer available.")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        const IncidentRowLook look =
            incidentRowLook(issue, true, RecoveredTranscriptionState::failed(issue.id, c.message), false, QLocale::c());
        EXPECT_EQ(look.failureMessage.value_or(QString()), c.shown);
    }
}

TEST_F(IncidentRowModelTest, TheRowReadsTheRecordingFromDiskAndTheTooltipFromTheIncident)
{
    const DictationIncident kept = incident(true);
    const auto keptRow = row(kept);
    EXPECT_TRUE(keptRow->look().hasRecording);
    EXPECT_EQ(keptRow->look().deleteHelp, QStringLiteral("Delete issue and recovered recording"));

    // Removed outside the application: the recording's controls go, the tooltip still names it.
    QFile::remove(*store.recordingURL(kept));
    EXPECT_FALSE(keptRow->look().hasRecording);
    EXPECT_EQ(keptRow->look().deleteHelp, QStringLiteral("Delete issue and recovered recording"));

    const auto plainRow = row(incident(false));
    EXPECT_FALSE(plainRow->look().hasRecording);
    EXPECT_EQ(plainRow->look().deleteHelp, QStringLiteral("Delete issue"));
    EXPECT_EQ(plainRow->look().dateText, QStringLiteral("Mar 2, 2026, 9:05 AM"));
}

TEST_F(IncidentRowModelTest, ChangesOfTheControllerOrTheStoreAreReported)
{
    const DictationIncident issue = incident(true);
    const auto model = row(issue);
    int changes = 0;
    QObject::connect(model.get(), &IncidentRowModel::changed, [&] { ++changes; });
    rig.controller->setRecoveredTranscriptionState(RecoveredTranscriptionState::transcribing(issue.id));
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(model->look().retrying);
    incident(false);
    EXPECT_EQ(changes, 2);
}

TEST_F(IncidentRowModelTest, CopyDetailsPutsTheReportOnTheClipboardAndConfirmsFor1_2Seconds)
{
    const DictationIncident issue = incident(false);
    const auto model = row(issue);
    model->copyDetails();
    EXPECT_EQ(rig.pasteboard.text(), issue.reportText());
    EXPECT_TRUE(model->copied());
    EXPECT_EQ(model->look().copyTitle, QStringLiteral("Copied"));
    EXPECT_EQ(model->look().copySymbol, QStringLiteral("checkmark"));
    rig.loop.advance(1190ms);
    EXPECT_TRUE(model->copied());
    rig.loop.advance(20ms);
    EXPECT_FALSE(model->copied());
    EXPECT_EQ(model->look().copyTitle, QStringLiteral("Copy Details"));

    // A second copy 0.5 s after the first is ended by the first one's reset.
    model->copyDetails();
    rig.loop.advance(500ms);
    model->copyDetails();
    rig.loop.advance(710ms);
    EXPECT_FALSE(model->copied());
    EXPECT_EQ(rig.pasteboard.writeCount(), 3);
}

TEST_F(IncidentRowModelTest, DeleteRemovesTheIncidentAndItsRecordingEvenWhenTheFileIsAlreadyGone)
{
    const DictationIncident kept = incident(true);
    const QString path = *store.recordingURL(kept);
    row(kept)->deleteAction();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(store.items().isEmpty());

    const DictationIncident gone = incident(true);
    QFile::remove(*store.recordingURL(gone));
    row(gone)->deleteAction();
    EXPECT_TRUE(store.items().isEmpty());
}

TEST_F(IncidentRowModelTest, ShowRecordingRevealsOnlyAFileThatExists)
{
    const DictationIncident kept = incident(true);
    const auto model = row(kept);
    model->showRecordingAction();
    ASSERT_EQ(revealed.size(), 1);
    EXPECT_EQ(revealed.front(), *store.recordingURL(kept));

    QFile::remove(*store.recordingURL(kept));
    model->showRecordingAction();
    row(incident(false))->showRecordingAction();
    EXPECT_EQ(revealed.size(), 1);
}

TEST_F(IncidentRowModelTest, ARevealNothingCouldShowSaysWhereTheRecordingIsUntilOneSucceeds)
{
    const DictationIncident kept = incident(true);
    const QString path = *store.recordingURL(kept);
    auto model = row(kept);
    model->showRecordingAction();
    EXPECT_FALSE(model->look().revealFailure) << "nothing until the desktop answers";

    int changes = 0;
    QObject::connect(model.get(), &IncidentRowModel::changed, [&] { ++changes; });
    answers.back()({path, false});
    EXPECT_EQ(changes, 1);
    ASSERT_TRUE(model->look().revealFailure);
    EXPECT_TRUE(
        model->look().revealFailure->remove(QChar(0x200B)).remove(QChar(0x2060)).endsWith(QFileInfo(path).fileName()));

    model->showRecordingAction();
    answers.back()({path, true});
    EXPECT_FALSE(model->look().revealFailure);

    // A recording deleted behind the row's back takes the line with its button.
    model->showRecordingAction();
    answers.back()({path, false});
    ASSERT_TRUE(model->look().revealFailure);
    QFile::remove(path);
    EXPECT_FALSE(model->look().revealFailure);

    // The answer may come after the row is gone.
    test::writeFile(path, "RIFF");
    model->showRecordingAction();
    ASSERT_EQ(revealed.size(), 4);
    model.reset();
    answers.back()({path, false});
}

} // namespace
