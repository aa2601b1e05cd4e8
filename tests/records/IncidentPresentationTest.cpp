#include "records/IncidentPresentation.h"
#include "records/DictationIncident.h"

#include <gtest/gtest.h>

using namespace zq;

namespace {

QString codeFor(const char *message, const char *engine = "local")
{
    return transcriptionIncidentPresentation(QString::fromUtf8(message), QString::fromUtf8(engine)).code;
}

TEST(IncidentPresentation, FixedFailureKinds)
{
    const auto p = [](const DictationFailure &f) {
        return IncidentPresentation::forFailure(f, QStringLiteral("openai"));
    };
    EXPECT_EQ(p(DictationFailure::micPermissionUndetermined()),
              (IncidentPresentation{QStringLiteral("ZQ-MIC-PERMISSION"), QStringLiteral("Microphone access needed"),
                                    QStringLiteral("ZEPA QUARN could not start listening because microphone access "
                                                   "has not been granted yet."),
                                    QStringLiteral("Grant microphone access, then try again.")}));
    EXPECT_EQ(p(DictationFailure::micPermissionDenied()).code, QStringLiteral("ZQ-MIC-PERMISSION"));
    EXPECT_EQ(p(DictationFailure::micPermissionDenied()).title, QStringLiteral("Microphone access is off"));
    EXPECT_EQ(p(DictationFailure::micUnavailable()).code, QStringLiteral("ZQ-MIC-UNAVAILABLE"));
    EXPECT_EQ(p(DictationFailure::noAudio()).code, QStringLiteral("ZQ-MIC-NO-AUDIO"));
    EXPECT_EQ(p(DictationFailure::pasteBlocked()).code, QStringLiteral("ZQ-PASTE-BLOCKED"));
    EXPECT_EQ(p(DictationFailure::pasteBlocked()).title, QStringLiteral("Transcript copied"));
    EXPECT_EQ(p(DictationFailure::pasteBlocked()).nextStep, QStringLiteral("Press Ctrl+V to insert it."));
    const IncidentPresentation terminal = IncidentPresentation::forFailure(
        DictationFailure::pasteBlocked(), QStringLiteral("local"), QStringLiteral("Ctrl+Shift+V"));
    EXPECT_EQ(terminal.message, QStringLiteral("The window you were using did not take the automatic paste, but "
                                               "your transcript is safe on the clipboard."));
    EXPECT_EQ(terminal.nextStep, QStringLiteral("Press Ctrl+Shift+V to insert it."));
    EXPECT_EQ(p(DictationFailure::timedOut()),
              (IncidentPresentation{
                  QStringLiteral("ZQ-TX-TIMEOUT"), QStringLiteral("Transcription took too long"),
                  QStringLiteral("ZEPA QUARN stopped waiting before the recording could be transcribed."),
                  QStringLiteral("Your recording was kept. Check your connection, then retry the transcription.")}));
    EXPECT_EQ(IncidentPresentation::interrupted().code, QStringLiteral("ZQ-TX-INTERRUPTED"));
    EXPECT_EQ(IncidentPresentation::interrupted().title, QStringLiteral("Transcription interrupted"));
    EXPECT_EQ(p(DictationFailure::transcription(QStringLiteral("HTTP 429 too many"))).code,
              QStringLiteral("ZQ-TX-SERVICE"));
}

TEST(IncidentPresentation, TranscriptionRulesInOrder)
{
    EXPECT_EQ(codeFor("No OpenAI API key set. Add one in Settings, or switch to the Local backend."),
              QStringLiteral("ZQ-TX-NO-KEY"));
    EXPECT_EQ(codeFor("OpenAI REJECTED THE API KEY — check Settings", "local"), QStringLiteral("ZQ-TX-AUTH"));
    EXPECT_EQ(codeFor("Network error: timed out"), QStringLiteral("ZQ-TX-NETWORK"));
    EXPECT_EQ(codeFor("OpenAI rejected the request: lost connection"), QStringLiteral("ZQ-TX-NETWORK"))
        << "rule 3 comes before rule 6";
    // A service that never answered is a timeout, even worded next to the connection.
    EXPECT_EQ(transcriptionIncidentPresentation(QStringLiteral("OpenAI did not answer in time — check your connection"),
                                                QStringLiteral("openai")),
              IncidentPresentation::forFailure(DictationFailure::timedOut(), QStringLiteral("openai")));
    EXPECT_EQ(codeFor("OpenAI answered with something that is not a transcript", "openai"),
              QStringLiteral("ZQ-TX-OPENAI"));
    EXPECT_EQ(codeFor("OpenAI unavailable (HTTP 503)"), QStringLiteral("ZQ-TX-SERVICE"));
    EXPECT_EQ(codeFor("On-device transcription isn't available on this Mac."),
              QStringLiteral("ZQ-TX-LOCAL-UNAVAILABLE"));
    EXPECT_EQ(codeFor("On-device transcription isn't available on this computer."),
              QStringLiteral("ZQ-TX-LOCAL-UNAVAILABLE"));
    EXPECT_EQ(codeFor("OPENAI ERROR: bad file"), QStringLiteral("ZQ-TX-REQUEST"));
    EXPECT_EQ(codeFor("unexpected openai error: bad file"), QStringLiteral("ZQ-TX-LOCAL"))
        << "the prefix test applies at the start only";
    EXPECT_EQ(codeFor("OpenAI rejected the request"), QStringLiteral("ZQ-TX-REQUEST"));
    EXPECT_EQ(codeFor("Invalid HTTP response"), QStringLiteral("ZQ-TX-REQUEST"));
    EXPECT_EQ(codeFor("No audio captured — check the mic", "openai"), QStringLiteral("ZQ-TX-OPENAI"));
    EXPECT_EQ(codeFor("No audio captured — check the mic", "OpenAI"), QStringLiteral("ZQ-TX-LOCAL"));
    EXPECT_EQ(codeFor("", ""), QStringLiteral("ZQ-TX-LOCAL"));
    EXPECT_EQ(transcriptionIncidentPresentation(QString(), QStringLiteral("local")).title,
              QStringLiteral("Transcription failed"));
}

TEST(IncidentReport, ExactTextWithoutTrailingLineFeed)
{
    DictationIncident incident;
    incident.id = QUuid::fromString(QStringLiteral("1a2b3c4d-0000-4000-8000-00000000abcd"));
    incident.date = QDateTime(QDate(2026, 3, 5), QTime(14, 7, 9, 870), Qt::UTC);
    incident.code = QStringLiteral("ZQ-TX-NETWORK");
    incident.message = QStringLiteral("What went wrong.");
    incident.nextStep = QStringLiteral("What to do.");
    incident.backend = QStringLiteral("local");
    incident.language = QStringLiteral("de-DE");
    incident.appVersion = QStringLiteral("1.4");
    incident.build = QStringLiteral("88");
    incident.recordingFilename = QStringLiteral("deleted-long-ago.wav");

    EXPECT_EQ(incident.reference(), QStringLiteral("1A2B3C4D"));
    EXPECT_EQ(incident.reportText(), QStringLiteral("ZEPA QUARN issue report\n"
                                                    "Error code: ZQ-TX-NETWORK\n"
                                                    "Reference: 1A2B3C4D\n"
                                                    "Time: 2026-03-05T14:07:09Z\n"
                                                    "App: 1.4 (88)\n"
                                                    "Engine: On-device\n"
                                                    "Recording preserved: Yes\n"
                                                    "\n"
                                                    "What happened: What went wrong.\n"
                                                    "Suggested action: What to do.\n"
                                                    "\n"
                                                    "This report contains no transcript, audio, API key, or server "
                                                    "response."));

    incident.backend = QStringLiteral("openai");
    incident.recordingFilename.reset();
    const QString report = incident.reportText();
    EXPECT_TRUE(report.contains(QStringLiteral("\nEngine: OpenAI\n")));
    EXPECT_TRUE(report.contains(QStringLiteral("\nRecording preserved: No\n")));
    EXPECT_FALSE(report.contains(QStringLiteral("de-DE")));
}

} // namespace
