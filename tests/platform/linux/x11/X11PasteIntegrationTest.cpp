#include "pipeline/Paster.h"
#include "pipeline/TriggerKey.h"
#include "platform/linux/freedesktop/FreedesktopScreenLock.h"
#include "platform/linux/x11/X11FrontWindow.h"
#include "platform/linux/x11/X11KeySynthesizer.h"
#include "platform/linux/x11/X11Pasteboard.h"
#include "platform/linux/x11/X11SyntheticKeys.h"
#include "runtime/QtMainLoop.h"

#include "support/ChildProcess.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/VirtualLoop.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QSocketNotifier>
#include <QTest>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <thread>
#include <unistd.h>

using namespace zq;
using namespace zq::test;
using namespace std::chrono_literals;

namespace {

const QString kMarkerType = QStringLiteral("application/x-zq-marker");

QByteArray encode(const QString &text)
{
    return text.toUtf8().toBase64();
}

QString decode(const QByteArray &base64)
{
    return QString::fromUtf8(QByteArray::fromBase64(base64));
}

// What the owner of `selection` answers to a request for `target` on a connection of the test's own,
// waited for without running this thread's loop: the data and the name of its type, or nothing when
// it refused or did not answer in time.
std::optional<std::pair<QByteArray, QByteArray>> convertSelection(const char *selection, const char *target)
{
    const std::unique_ptr<Display, int (*)(Display *)> display(XOpenDisplay(sharedDisplay().toLocal8Bit().constData()),
                                                               &XCloseDisplay);
    if (!display)
        return std::nullopt;
    const Window window = XCreateSimpleWindow(display.get(), DefaultRootWindow(display.get()), 0, 0, 1, 1, 0, 0, 0);
    const Atom property = XInternAtom(display.get(), "ZQ_CONVERTED", False);
    XConvertSelection(display.get(), XInternAtom(display.get(), selection, False),
                      XInternAtom(display.get(), target, False), property, window, CurrentTime);
    XEvent event;
    const QDeadlineTimer deadline(kLoadedMachineTimeout);
    while (!XCheckTypedWindowEvent(display.get(), window, SelectionNotify, &event)) {
        if (deadline.hasExpired())
            return std::nullopt;
        pollfd answer{ConnectionNumber(display.get()), POLLIN, 0};
        ::poll(&answer, 1, int(deadline.remainingTime()));
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long left = 0;
    unsigned char *data = nullptr;
    if (event.xselection.property == None ||
        XGetWindowProperty(display.get(), window, property, 0, 1 << 20, True, AnyPropertyType, &type, &format, &count,
                           &left, &data) != Success ||
        !data)
        return std::nullopt;
    QByteArray bytes(reinterpret_cast<const char *>(data), int(count * (format == 32 ? sizeof(long) : format / 8)));
    if (type == XA_ATOM) { // their names, one per line
        QByteArrayList names;
        for (unsigned long i = 0; i < count; ++i) {
            char *name = XGetAtomName(display.get(), reinterpret_cast<const Atom *>(data)[i]);
            names.append(name);
            XFree(name);
        }
        bytes = names.join('\n');
    }
    XFree(data);
    char *typeName = XGetAtomName(display.get(), type);
    const QByteArray name(typeName);
    XFree(typeName);
    return std::pair{name, bytes};
}

// The other application: a focused line edit in a process of its own, which also owns, copies and reads
// the clipboard when told to. It runs only when re-executed by the tests below.
TEST(X11PasteTarget, Serve)
{
    if (!qEnvironmentVariableIsSet("ZQ_PASTE_TARGET"))
        GTEST_SKIP() << "runs only as the paste target of the X11 paste tests";
    auto say = [](const QByteArray &line) {
        std::fputs(line.constData(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    QLineEdit edit;
    QObject::connect(&edit, &QLineEdit::textChanged, &edit, [&](const QString &text) { say("edit " + encode(text)); });
    edit.resize(300, 40);
    edit.show();
    edit.activateWindow();
    edit.setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return edit.isActiveWindow() && edit.hasFocus(); }, 20000));

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &edit, [&] {
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, count);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QList<QByteArray> words = pending.left(end).split(' ');
            pending.remove(0, end + 1);
            QClipboard *clipboard = QGuiApplication::clipboard();
            if (words.value(0) == "own") {
                auto *data = new QMimeData;
                data->setText(decode(words.value(1)));
                data->setData(kMarkerType, QByteArray::fromBase64(words.value(2)));
                clipboard->setMimeData(data);
                say("owned");
            } else if (words.value(0) == "copy") {
                clipboard->setText(decode(words.value(1)));
                say("copied");
            } else if (words.value(0) == "read") {
                const QMimeData *data = clipboard->mimeData();
                say("clip " + encode(data ? data->text() : QString()) + ' ' +
                    (data ? data->data(kMarkerType) : QByteArray()).toBase64());
            }
        }
    });
    say("ready");
    QCoreApplication::exec();
}

// A clipboard manager by the desktop's protocol: it owns CLIPBOARD_MANAGER and, asked to save the
// clipboard, reads its text from the owner, says "kept <text>" and answers the request. It runs only when
// re-executed by the tests below, on the display the variable names.
TEST(X11ClipboardManager, Serve)
{
    const QByteArray displayName = qgetenv("ZQ_CLIPBOARD_MANAGER");
    if (displayName.isEmpty())
        GTEST_SKIP() << "runs only as the clipboard manager of the X11 paste tests";
    Display *display = XOpenDisplay(displayName.constData());
    ASSERT_NE(display, nullptr);
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    const Atom manager = XInternAtom(display, "CLIPBOARD_MANAGER", False);
    const Atom saveTargets = XInternAtom(display, "SAVE_TARGETS", False);
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom kept = XInternAtom(display, "ZQ_KEPT", False);
    XSetSelectionOwner(display, manager, window, CurrentTime);
    ASSERT_EQ(XGetSelectionOwner(display, manager), window);
    std::puts("ready");
    std::fflush(stdout);
    XSelectionRequestEvent saving{};
    bool isSaving = false;
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == SelectionRequest && event.xselectionrequest.selection == manager &&
            event.xselectionrequest.target == saveTargets && !isSaving) {
            saving = event.xselectionrequest;
            isSaving = true;
            XConvertSelection(display, clipboard, utf8, kept, window, CurrentTime);
        } else if (event.type == SelectionNotify && isSaving) {
            QByteArray text;
            if (event.xselection.property != None) {
                Atom type = None;
                int format = 0;
                unsigned long count = 0;
                unsigned long left = 0;
                unsigned char *data = nullptr;
                if (XGetWindowProperty(display, window, kept, 0, 1 << 20, True, AnyPropertyType, &type, &format, &count,
                                       &left, &data) == Success &&
                    data) {
                    text = QByteArray(reinterpret_cast<const char *>(data), int(count));
                    XFree(data);
                }
            }
            std::printf("kept %s\n", text.toBase64().constData());
            std::fflush(stdout);
            XEvent answer{};
            answer.xselection.type = SelectionNotify;
            answer.xselection.requestor = saving.requestor;
            answer.xselection.selection = manager;
            answer.xselection.target = saveTargets;
            answer.xselection.property = event.xselection.property != None ? saving.property : None;
            answer.xselection.time = saving.time;
            XSendEvent(display, saving.requestor, False, NoEventMask, &answer);
            XFlush(display);
            isSaving = false;
        }
    }
}

class X11PasteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!requireService(!sharedDisplay().isEmpty(), sharedDisplayError()))
            return;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZQ_PASTE_TARGET"), QStringLiteral("1"));
        m_target.setProcessEnvironment(environment);
        m_target.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The child's harness starts an X server of its own; -display puts its window on ours.
        m_target.start(QCoreApplication::applicationFilePath(),
                       {QStringLiteral("--gtest_filter=X11PasteTarget.Serve"), QStringLiteral("-platform"),
                        QStringLiteral("xcb"), QStringLiteral("-display"), sharedDisplay()});
        ASSERT_TRUE(m_target.waitForStarted(20000)) << m_target.errorString().toStdString();
        ASSERT_TRUE(awaitLine("ready")) << "the paste target did not come up";
    }

    void TearDown() override
    {
        if (m_target.state() != QProcess::NotRunning) {
            m_target.closeWriteChannel();
            if (!m_target.waitForFinished(5000))
                m_target.kill();
        }
    }

    void tell(const QByteArray &command) { m_target.write(command + '\n'); }

    // Waits, running this process's event loop (which serves the clipboard we own), for the target's next
    // line starting with `word`; returns the rest of it.
    std::optional<QByteArray> awaitLine(const QByteArray &word,
                                        std::chrono::milliseconds timeout = zq::test::kLoadedMachineTimeout)
    {
        return awaitLineOf(m_target, word, timeout);
    }
    static std::optional<QByteArray> awaitLineOf(QProcess &process, const QByteArray &word,
                                                 std::chrono::milliseconds timeout)
    {
        const QDeadlineTimer deadline(timeout);
        while (!deadline.hasExpired()) {
            while (process.canReadLine()) {
                const QByteArray line = process.readLine().trimmed();
                if (line == word || line.startsWith(word + ' '))
                    return line.mid(word.size() + 1);
            }
            QTest::qWait(10);
        }
        return std::nullopt;
    }

    // Runs this process's event loop until the paster has given the clipboard back or decided not to.
    bool awaitRestore(std::chrono::milliseconds timeout = zq::test::kLoadedMachineTimeout)
    {
        const QDeadlineTimer deadline(timeout);
        while (paster.hasPendingWork() && !deadline.hasExpired())
            QTest::qWait(10);
        return !paster.hasPendingWork();
    }

    // The target's view of the clipboard: its text and the marker type's bytes.
    std::pair<QString, QByteArray> readClipboard()
    {
        tell("read");
        const std::optional<QByteArray> line = awaitLine("clip");
        if (!line)
            return {};
        const QList<QByteArray> parts = line->split(' ');
        return {decode(parts.value(0)), QByteArray::fromBase64(parts.value(1))};
    }

    // The target's view once it matches `expected`, or its last view after `timeout`: the target learns
    // of a new clipboard owner from an event of its own, which may still be on its way.
    std::pair<QString, QByteArray>
    readClipboardUntil(const std::pair<QString, QByteArray> &expected,
                       std::chrono::milliseconds timeout = zq::test::kLoadedMachineTimeout)
    {
        const QDeadlineTimer deadline(timeout);
        std::pair<QString, QByteArray> seen = readClipboard();
        while (seen != expected && !deadline.hasExpired()) {
            QTest::qWait(20);
            seen = readClipboard();
        }
        return seen;
    }

    // Until this process has heard of it, as it has of a copy made a while before a paste.
    void ownClipboardInTarget()
    {
        const qint64 before = pasteboard.changeCount();
        tell("own " + encode(QStringLiteral("before ✓")) + ' ' + QByteArray("marker-bytes").toBase64());
        ASSERT_TRUE(awaitLine("owned"));
        ASSERT_TRUE(processEventsUntil([&] { return pasteboard.changeCount() != before; }, kLoadedMachineTimeout));
    }

    QProcess m_target;
    rt::QtMainLoop loop;
    std::shared_ptr<platform::X11SyntheticKeys> ownKeys = std::make_shared<platform::X11SyntheticKeys>();
    platform::X11Pasteboard pasteboard;
    platform::X11KeySynthesizer keys{ownKeys};
    platform::FreedesktopScreenLock screenLock;
    platform::X11FrontWindow frontWindow;
    Paster paster{pasteboard, keys, screenLock, loop, {nullptr, &frontWindow}};
};

const QString kDictated = QStringLiteral("Grüße — naïve café ✓ 日本語 🎤");

TEST_F(X11PasteTest, UnicodeTextArrivesAndThePreviousClipboardComesBack)
{
    ownClipboardInTarget();
    ASSERT_TRUE(paster.paste(kDictated));
    bool told = false;
    ASSERT_TRUE(paster.whenFetched([&] { told = true; })) << "the X11 clipboard tells its fetches";
    // Answered while this thread's loop does not run, in the two types windows paste: a window asks the
    // name of each type it does not know before it asks for the text.
    using Answer = std::optional<std::pair<QByteArray, QByteArray>>;
    EXPECT_EQ(convertSelection("CLIPBOARD", "TARGETS"),
              Answer({"ATOM", "TARGETS\nTIMESTAMP\nUTF8_STRING\ntext/plain;charset=utf-8\nTEXT"}));
    for (const char *type : {"UTF8_STRING", "text/plain;charset=utf-8"})
        EXPECT_EQ(convertSelection("CLIPBOARD", type), Answer({type, kDictated.toUtf8()}));
    EXPECT_EQ(convertSelection("CLIPBOARD", "TEXT"), Answer({"UTF8_STRING", kDictated.toUtf8()}));
    EXPECT_EQ(convertSelection("CLIPBOARD", "STRING"), Answer()) << "not Latin-1";
    const std::optional<QByteArray> edited = awaitLine("edit");
    ASSERT_TRUE(edited) << "nothing arrived in the line edit";
    EXPECT_EQ(decode(*edited), kDictated);
    EXPECT_TRUE(QTest::qWaitFor([&] { return told; }, 20000)) << "the window's fetch was not told";

    ASSERT_TRUE(awaitRestore()) << "the clipboard was never given back";
    const auto [text, marker] = readClipboardUntil({QStringLiteral("before ✓"), QByteArray("marker-bytes")});
    EXPECT_EQ(text, QStringLiteral("before ✓"));
    EXPECT_EQ(marker, QByteArray("marker-bytes")) << "the second format is restored too";
    // The server clock moves past the last time this process saw, which a claim at the current time would take.
    std::this_thread::sleep_for(20ms);
    pasteboard.setString(QStringLiteral("café"));
    EXPECT_EQ(convertSelection("CLIPBOARD", "STRING"), Answer({"STRING", "caf\xe9"})) << "Latin-1 as well";
    EXPECT_EQ(convertSelection("CLIPBOARD", "TEXT"), Answer({"STRING", "caf\xe9"}));

    // TIMESTAMP tells the time the selection was owned from: a claim made at that time is not older.
    const std::optional<std::pair<QByteArray, QByteArray>> owned = convertSelection("CLIPBOARD", "TIMESTAMP");
    ASSERT_TRUE(owned && owned->first == "INTEGER" && owned->second.size() == sizeof(long));
    const auto time = Time(*reinterpret_cast<const long *>(owned->second.constData()));
    EXPECT_NE(time, Time(CurrentTime));
    const std::unique_ptr<Display, int (*)(Display *)> display(XOpenDisplay(sharedDisplay().toLocal8Bit().constData()),
                                                               &XCloseDisplay);
    ASSERT_NE(display, nullptr);
    const Window claimer = XCreateSimpleWindow(display.get(), DefaultRootWindow(display.get()), 0, 0, 1, 1, 0, 0, 0);
    const Atom clipboard = XInternAtom(display.get(), "CLIPBOARD", False);
    XSetSelectionOwner(display.get(), clipboard, claimer, time);
    EXPECT_EQ(XGetSelectionOwner(display.get(), clipboard), claimer) << "the selection was owned from another time";
    // So is a text alone that goes back: a large one that many windows pull would hold this loop.
    pasteboard.writeItems({{{QStringLiteral("text/plain"), kDictated.toUtf8()}}});
    EXPECT_EQ(convertSelection("CLIPBOARD", "UTF8_STRING"), Answer({"UTF8_STRING", kDictated.toUtf8()}));
}

TEST_F(X11PasteTest, ACopyByAnotherClientWithinTheDelayIsKept)
{
    // The delay passes when the test says so, however slow the other client is to copy.
    VirtualLoop delays;
    Paster delayed{pasteboard, keys, screenLock, delays};
    ownClipboardInTarget();
    ASSERT_TRUE(delayed.paste(kDictated));
    const qint64 pasted = pasteboard.changeCount();
    ASSERT_TRUE(awaitLine("edit"));
    tell("copy " + encode(QStringLiteral("copied later")));
    ASSERT_TRUE(awaitLine("copied"));
    ASSERT_TRUE(processEventsUntil([&] { return pasteboard.changeCount() != pasted; }, kLoadedMachineTimeout))
        << "the copy never reached this process";
    ASSERT_TRUE(delayed.hasPendingWork());
    delays.advance(Paster::restoreDelay);
    ASSERT_FALSE(delayed.hasPendingWork()) << "the restore did not run after the delay";

    const auto [text, marker] = readClipboardUntil({QStringLiteral("copied later"), QByteArray()});
    EXPECT_EQ(text, QStringLiteral("copied later"));
    EXPECT_TRUE(marker.isEmpty());
}

// A front window slower to fetch the text than the restore delay (a loaded machine, a busy application)
// still gets the dictated text, and the clipboard comes back after it. The target is frozen from before
// the paste's chord until well after the delay.
TEST_F(X11PasteTest, AWindowThatFetchesLateStillGetsTheText)
{
    pasteboard.setString(QStringLiteral("ours before"));
    ASSERT_EQ(readClipboardUntil({QStringLiteral("ours before"), QByteArray()}).first, QStringLiteral("ours before"));
    ASSERT_EQ(::kill(pid_t(m_target.processId()), SIGSTOP), 0);
    const std::optional<qint64> fetchesBefore = pasteboard.fetchCount();
    ASSERT_TRUE(fetchesBefore) << "the X11 clipboard tells its fetches once it was written";
    ASSERT_TRUE(paster.paste(kDictated));
    bool told = false;
    ASSERT_TRUE(paster.whenFetched([&] { told = true; }));
    // A clipboard history tool reads the new text meanwhile: no fetch of the window's.
    using Answer = std::optional<std::pair<QByteArray, QByteArray>>;
    EXPECT_EQ(convertSelection("CLIPBOARD", "UTF8_STRING"), Answer({"UTF8_STRING", kDictated.toUtf8()}));
    // Past the restore delay and a few of its checks for a fetch, on the loop that runs them.
    bool delayPassed = false;
    loop.postDelayed(Paster::restoreDelay + 5 * Paster::fetchPollInterval, [&] { delayPassed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return delayPassed; }, 20000));
    EXPECT_FALSE(told) << "told of a fetch the frozen window never made";
    EXPECT_TRUE(paster.hasPendingWork()) << "the restore waits for the window's fetch";
    ASSERT_EQ(::kill(pid_t(m_target.processId()), SIGCONT), 0);

    const std::optional<QByteArray> edited = awaitLine("edit");
    ASSERT_TRUE(edited) << "nothing arrived in the line edit";
    EXPECT_EQ(decode(*edited).toStdString(), kDictated.toStdString()) << "not the clipboard from before";
    EXPECT_GT(pasteboard.fetchCount().value_or(0), *fetchesBefore) << "the window's fetch was counted";
    EXPECT_TRUE(QTest::qWaitFor([&] { return told; }, 20000)) << "the window's fetch was not told";
    ASSERT_TRUE(awaitRestore()) << "the clipboard was never given back";
    EXPECT_EQ(readClipboardUntil({QStringLiteral("ours before"), QByteArray()}).first, QStringLiteral("ours before"));
}

TEST_F(X11PasteTest, AHeldModifierKeyDelaysThePasteUntilItIsLetGo)
{
    // The checks for held keys run when the test lets time pass: a slow key-up stays within their limit.
    VirtualLoop checks;
    Paster delayed{pasteboard, keys, screenLock, checks};
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("Shift_L")}).succeeded());
    EXPECT_EQ(keys.heldModifiers(), ModifierFlag::shift);
    ASSERT_TRUE(delayed.paste(QStringLiteral("plain")));
    checks.advance(5 * Paster::modifierPollInterval);
    EXPECT_FALSE(awaitLine("edit", 300ms)) << "Shift+Control+V must not be posted";

    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("Shift_L")}).succeeded());
    ASSERT_TRUE(waitFor([&] { return keys.heldModifiers() == 0; }, kLoadedMachineTimeout));
    checks.advance(Paster::modifierPollInterval);
    const std::optional<QByteArray> edited = awaitLine("edit");
    ASSERT_TRUE(edited);
    EXPECT_EQ(decode(*edited), QStringLiteral("plain"));
    checks.advance(Paster::restoreDelay);
    EXPECT_FALSE(delayed.hasPendingWork());
}

// A clipboard manager that takes each new clipboard over (xclipboard) offers the dictated text as its own
// before the restore: no copy by the user, so the clipboard from before still comes back.
TEST_F(X11PasteTest, AClipboardManagerTakingTheTextOverStillGetsTheClipboardBack)
{
    const std::unique_ptr<Display, int (*)(Display *)> display(XOpenDisplay(sharedDisplay().toLocal8Bit().constData()),
                                                               &XCloseDisplay);
    ASSERT_NE(display, nullptr);
    const Atom clipboard = XInternAtom(display.get(), "CLIPBOARD", False);
    const Atom manager = XInternAtom(display.get(), "CLIPBOARD_MANAGER", False);
    // xclipboard owns both selections once it holds the clipboard.
    const auto takenOver = [&] {
        const Window owner = XGetSelectionOwner(display.get(), clipboard);
        return owner != None && owner == XGetSelectionOwner(display.get(), manager);
    };
    ChildProcess xclipboard;
    ChildSpec spec;
    spec.program = QStringLiteral("xclipboard");
    spec.arguments = {QStringLiteral("-display"), sharedDisplay()};
    const bool started = xclipboard.start(spec);
    ZQ_REQUIRE_SERVICE(started, xclipboard.errorString());
    ownClipboardInTarget();
    ASSERT_TRUE(processEventsUntil(takenOver)) << "xclipboard never took the clipboard over";
    // Qt claims the clipboard at the time of the last event it handled, and the X server ignores a claim
    // older than the owner's: a read from the new owner queues the notice of its take-over ahead of the
    // answer, and Qt handles it next.
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before ✓"));
    QCoreApplication::processEvents();

    // The delay passes when the test says so, however slow the manager is to take the text over.
    VirtualLoop delays;
    Paster delayed{pasteboard, keys, screenLock, delays, {nullptr, &frontWindow}};
    ASSERT_TRUE(delayed.paste(kDictated));
    const std::optional<QByteArray> edited = awaitLine("edit");
    ASSERT_TRUE(edited) << "nothing arrived in the line edit";
    EXPECT_EQ(decode(*edited), kDictated);
    ASSERT_TRUE(processEventsUntil(takenOver, kLoadedMachineTimeout)) << "xclipboard never took the dictated text over";
    ASSERT_TRUE(delayed.hasPendingWork());
    // The window's fetch went to xclipboard, out of sight: the clipboard from before waits for the window
    // to answer its ping, well within the limit.
    ASSERT_TRUE(waitFor([&] { return frontWindow.pingAnswered(); }, kLoadedMachineTimeout)) << "no answer to the ping";
    delays.advance(Paster::restoreDelay);
    ASSERT_FALSE(delayed.hasPendingWork()) << "the restore did not run after the delay";

    EXPECT_EQ(readClipboardUntil({QStringLiteral("before ✓"), QByteArray()}).first, QStringLiteral("before ✓"));
}

// At quit the user's clipboard goes back from a paste whose window is frozen, and then to the desktop's
// clipboard manager, which keeps it past the quit; where none runs nothing waits.
TEST_F(X11PasteTest, AtQuitTheUsersClipboardGoesBackAndToTheClipboardManager)
{
    pasteboard.setString(QStringLiteral("ours before ✓"));
    EXPECT_FALSE(pasteboard.handToManager(5s)) << "no clipboard manager runs yet";

    QProcess manager;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZQ_CLIPBOARD_MANAGER"), sharedDisplay());
    manager.setProcessEnvironment(environment);
    manager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    manager.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--gtest_filter=X11ClipboardManager.Serve")});
    ASSERT_TRUE(awaitLineOf(manager, "ready", kLoadedMachineTimeout)) << "the clipboard manager did not come up";

    ASSERT_EQ(::kill(pid_t(m_target.processId()), SIGSTOP), 0);
    ASSERT_TRUE(paster.paste(kDictated));
    ASSERT_TRUE(paster.hasPendingWork());
    paster.handOverAtQuit();
    EXPECT_FALSE(paster.hasPendingWork());
    const std::optional<QByteArray> kept = awaitLineOf(manager, "kept", kLoadedMachineTimeout);
    ASSERT_EQ(::kill(pid_t(m_target.processId()), SIGCONT), 0);
    ASSERT_TRUE(kept) << "the clipboard manager was never asked";
    EXPECT_EQ(QString::fromUtf8(QByteArray::fromBase64(*kept)), QStringLiteral("ours before ✓"));
    // The window wakes and fetches the clipboard, which this process still serves.
    EXPECT_TRUE(awaitLine("edit"));
    manager.kill();
    manager.waitForFinished(5000);
}

// No clipboard manager keeps the primary selection: at quit its text goes to the cut buffer, which
// outlives the process, in Latin-1 where it fits (as xterm reads it) and in UTF-8 otherwise; a selection
// somebody else took since is theirs, and stays out of it.
TEST_F(X11PasteTest, AtQuitThePrimarySelectionIsLeftInTheCutBuffer)
{
    const std::unique_ptr<Display, int (*)(Display *)> display(XOpenDisplay(sharedDisplay().toLocal8Bit().constData()),
                                                               &XCloseDisplay);
    ASSERT_NE(display, nullptr);
    const auto cutBuffer = [&]() -> std::pair<QByteArray, QByteArray> {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long left = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(display.get(), DefaultRootWindow(display.get()), XA_CUT_BUFFER0, 0, 1 << 20, False,
                               AnyPropertyType, &type, &format, &count, &left, &data) != Success ||
            !data)
            return {};
        const QByteArray bytes(reinterpret_cast<const char *>(data), int(count));
        XFree(data);
        char *name = XGetAtomName(display.get(), type);
        const QByteArray typeName(name);
        XFree(name);
        return {typeName, bytes};
    };
    platform::X11Pasteboard primary{platform::X11Pasteboard::Selection::primary};
    EXPECT_FALSE(primary.leaveInCutBuffer()) << "this process holds no selection yet";

    primary.setString(QStringLiteral("sélection d'avant"));
    ASSERT_TRUE(primary.leaveInCutBuffer());
    EXPECT_EQ(cutBuffer(), std::pair(QByteArray("STRING"), QStringLiteral("sélection d'avant").toLatin1()));
    primary.setString(kDictated);
    ASSERT_TRUE(primary.leaveInCutBuffer());
    EXPECT_EQ(cutBuffer(), std::pair(QByteArray("UTF8_STRING"), kDictated.toUtf8()));

    // Another client selects something.
    const Window other = XCreateSimpleWindow(display.get(), DefaultRootWindow(display.get()), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(display.get(), XA_PRIMARY, other, CurrentTime);
    XSync(display.get(), False);
    EXPECT_FALSE(primary.leaveInCutBuffer()) << "the selection is somebody else's now";
    EXPECT_EQ(cutBuffer().second, kDictated.toUtf8());
    XDestroyWindow(display.get(), other);
}

} // namespace
