// Dictation into terminal emulators, which do not paste with Control+V, and into a window that takes
// no text at all, through the real application.
#include "pipeline/SettingsDefaults.h"
#include "records/DiagnosticEvent.h"
#include "support/E2EEnvironment.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::ChildProcess;
using zq::test::ChildSpec;
using zq::test::E2EEnvironment;
using zq::test::runTool;

namespace {

const QString kTerminalClipboardBefore = QStringLiteral("kept on the clipboard ✓");
const QString kPrimaryBefore = QStringLiteral("selected before the take");

// One window in front of a take. `%SCRIPT` in the arguments is a shell script that reads one line at
// the terminal's prompt and writes it to a file.
struct Front {
    const char *name;
    const char *program;
    QStringList arguments;
    const char *windowClass; // as xdotool searches it
    bool takesText;
    const char *noticeBody; // for a window that takes no text
};

class TerminalPasteE2ETest : public ::testing::Test {
protected:
    QProcessEnvironment display() const
    {
        QProcessEnvironment environment = env->appEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), env->display());
        return environment;
    }

    zq::test::ToolResult tool(const QString &program, const QStringList &arguments,
                              std::chrono::milliseconds timeout = 10s) const
    {
        return runTool(program, arguments, display(), std::nullopt, timeout);
    }

    // Makes an xclip of its own the owner of `selection` with `text`; it serves it until somebody else
    // takes the selection over.
    void own(const QString &selection, const QString &text, std::unique_ptr<ChildProcess> &owner)
    {
        owner = std::make_unique<ChildProcess>();
        ChildSpec spec;
        spec.program = QStringLiteral("xclip");
        spec.arguments = {QStringLiteral("-quiet"), QStringLiteral("-selection"), selection};
        spec.environment = display();
        spec.standardInput = text.toUtf8();
        ASSERT_TRUE(owner->start(spec)) << owner->errorString().toStdString();
        ASSERT_TRUE(zq::test::waitFor([&] { return this->selection(selection) == text; }, 10s))
            << "xclip never served the " << selection.toStdString();
    }

    std::optional<QString> selection(const QString &name) const
    {
        const auto read = tool(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), name}, 3s);
        if (!read.succeeded())
            return std::nullopt;
        return QString::fromUtf8(read.standardOutput);
    }

    bool waitForSelection(const QString &name, const std::function<bool(const QString &)> &accept)
    {
        return zq::test::waitFor([&] { return accept(selection(name).value_or(QString())); }, 10s, 100ms);
    }

    std::unique_ptr<E2EEnvironment> env;
};

} // namespace

// Each window in turn, in one session of the application: a terminal gets the text at its prompt with
// the keys it pastes with, and the user's clipboard and primary selection come back; a window that never
// asks for the text leaves it on the clipboard and says so, as a refused paste does.
TEST_F(TerminalPasteE2ETest, TheTextLandsAtATerminalsPromptOrStaysOnTheClipboard)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString landed = work.filePath(QStringLiteral("landed.txt"));
    const QString script = work.filePath(QStringLiteral("prompt.sh"));
    {
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("IFS= read -r line; printf %s \"$line\" > '" + landed.toUtf8() + "'\n");
    }
    const Front fronts[] = {
        {"xterm", "xterm", {QStringLiteral("-e"), QStringLiteral("sh"), script}, "XTerm", true, nullptr},
        {"lxterminal",
         "lxterminal",
         {QStringLiteral("--no-remote"), QStringLiteral("-e"), QStringLiteral("sh ") + script},
         "Lxterminal",
         true,
         nullptr},
        {"no text field",
         "xmessage",
         {QStringLiteral("No text field here")},
         "Xmessage",
         false,
         "The window did not take it. Press Ctrl+V to insert it."},
    };

    env = std::make_unique<E2EEnvironment>();
    if (!zq::test::requireService(env->start(), env->errorString()))
        return;
    ASSERT_FALSE(E2EEnvironment::speechSamples().empty());
    // A modifier as the trigger: a function key would type its escape sequence into the terminal.
    ASSERT_TRUE(env->writeSettings({{zq::keys::triggerKey, QStringLiteral("right-control")}}))
        << env->errorString().toStdString();
    ASSERT_TRUE(env->startApp()) << env->errorString().toStdString();

    int takes = 0;
    int pasted = 0;
    for (const Front &front : fronts) {
        SCOPED_TRACE(front.name);
        QFile::remove(landed);
        ChildProcess window;
        ChildSpec spec;
        spec.program = QLatin1String(front.program);
        spec.arguments = front.arguments;
        spec.environment = display();
        ASSERT_TRUE(window.start(spec)) << window.errorString().toStdString();
        const auto found = tool(QStringLiteral("xdotool"),
                                {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                                 QStringLiteral("--class"), QLatin1String(front.windowClass)},
                                zq::test::kLoadedMachineTimeout);
        ASSERT_TRUE(found.succeeded()) << "the window never showed: " << found.describe().toStdString();
        const QString id = QString::fromUtf8(found.standardOutput).trimmed().split(QLatin1Char('\n')).last();
        ASSERT_TRUE(tool(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), id}, 15s)
                        .succeeded());
        std::unique_ptr<ChildProcess> clipboardOwner;
        std::unique_ptr<ChildProcess> primaryOwner;
        own(QStringLiteral("clipboard"), kTerminalClipboardBefore, clipboardOwner);
        own(QStringLiteral("primary"), kPrimaryBefore, primaryOwner);
        if (HasFatalFailure())
            return;

        ASSERT_TRUE(env->keyDown("Control_R"));
        ++takes;
        ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::audioStartCompleted, takes, zq::test::kLoadedMachineTimeout))
            << "the take's audio never started; log:\n"
            << env->appLogTail().toStdString();
        ASSERT_TRUE(env->speakIntoTake(E2EEnvironment::speechSamples()))
            << env->errorString().toStdString() << "; log:\n"
            << env->appLogTail().toStdString();
        ASSERT_TRUE(env->keyUp("Control_R"));

        if (front.takesText) {
            ++pasted;
            ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::pasteSucceeded, pasted, zq::test::kLoadedMachineTimeout))
                << "log:\n"
                << env->appLogTail().toStdString();
            // The text waits at the prompt; Return hands the line to the shell.
            ASSERT_TRUE(env->tapKey("Return"));
            QString line;
            const bool arrived = zq::test::waitFor(
                [&] {
                    QFile file(landed);
                    if (!file.open(QIODevice::ReadOnly))
                        return false;
                    line = QString::fromUtf8(file.readAll());
                    return true;
                },
                15s, 100ms);
            ASSERT_TRUE(arrived) << "the shell never read a line";
            EXPECT_TRUE(E2EEnvironment::isSpeechWords(line)) << "the prompt got \"" << line.toStdString() << "\"";
            EXPECT_TRUE(waitForSelection(QStringLiteral("clipboard"),
                                         [](const QString &s) { return s == kTerminalClipboardBefore; }))
                << "the clipboard holds \"" << selection(QStringLiteral("clipboard")).value_or("?").toStdString()
                << "\"";
            EXPECT_TRUE(
                waitForSelection(QStringLiteral("primary"), [](const QString &s) { return s == kPrimaryBefore; }))
                << "the primary selection holds \"" << selection(QStringLiteral("primary")).value_or("?").toStdString()
                << "\"";
            // The done flash, then the trigger is free for the next take: the pill is gone.
            EXPECT_TRUE(zq::test::waitFor(
                [&] {
                    return !tool(QStringLiteral("xdotool"),
                                 {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                  QStringLiteral("ZEPA QUARN pill")})
                                .succeeded();
                },
                zq::test::kLoadedMachineTimeout, 100ms))
                << "the pill stayed up after the take";
            continue;
        }

        ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::pasteFallback, 1, zq::test::kLoadedMachineTimeout))
            << "log:\n"
            << env->appLogTail().toStdString();
        EXPECT_EQ(env->journalCount(DiagnosticEvent::pasteSucceeded), pasted);
        ASSERT_TRUE(env->notifications().waitForNotifications(1, zq::test::kLoadedMachineTimeout));
        EXPECT_EQ(env->notifications().notifications().back().summary, QStringLiteral("Transcript copied"));
        EXPECT_EQ(env->notifications().notifications().back().body, QString::fromUtf8(front.noticeBody));
        EXPECT_TRUE(waitForSelection(QStringLiteral("clipboard"), E2EEnvironment::isSpeechWords))
            << "the clipboard holds \"" << selection(QStringLiteral("clipboard")).value_or("?").toStdString() << "\"";
        QThread::msleep(1000);
        EXPECT_TRUE(E2EEnvironment::isSpeechWords(selection(QStringLiteral("clipboard")).value_or(QString())))
            << "the clipboard from before came back over the text";
        const QJsonArray history = env->history();
        ASSERT_EQ(history.size(), takes) << "the text is not in the history";
        for (const QJsonValue &item : history)
            EXPECT_TRUE(E2EEnvironment::isSpeechWords(item.toObject().value(QStringLiteral("text")).toString()));
        EXPECT_TRUE(env->incidents().isEmpty());
    }
    EXPECT_TRUE(env->stopApp());
}
