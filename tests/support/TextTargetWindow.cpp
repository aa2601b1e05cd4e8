#include "support/TextTargetWindow.h"

#include "support/Polling.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcessEnvironment>
#include <QSocketNotifier>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/prctl.h>
#include <unistd.h>

namespace zq::test {

namespace {

constexpr const char *kRoleVariable = "ZQ_TEXT_TARGET_WINDOW";

QByteArray encode(const QString &text)
{
    return text.toUtf8().toBase64();
}

QString decode(const QByteArray &encoded)
{
    return QString::fromUtf8(QByteArray::fromBase64(encoded));
}

QByteArray stamp()
{
    return QByteArray::number(qint64(TextTargetWindow::monotonicNow().count()));
}

void report(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Reports every key that reaches one of the window's top-level windows (each event passes one of
// them exactly once, before the focused widget sees it).
class KeyReporter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const bool press = event->type() == QEvent::KeyPress;
        if (watched->isWindowType() && (press || event->type() == QEvent::KeyRelease)) {
            const auto *key = static_cast<QKeyEvent *>(event);
            report("key " + QByteArray(press ? "press " : "release ") + stamp() + ' ' + QByteArray::number(key->key()) +
                   ' ' + QByteArray(key->isAutoRepeat() ? "1" : "0"));
        }
        return QObject::eventFilter(watched, event);
    }
};

// Started again as the window when the variable is set: the window runs instead of the tests.
[[maybe_unused]] const bool s_ranAsWindow = [] {
    if (!qEnvironmentVariableIsSet(kRoleVariable))
        return false;
    std::_Exit(TextTargetWindow::runWindowRole());
}();

} // namespace

int TextTargetWindow::runWindowRole()
{
    // The window must not outlive the test that owns it, even when the test dies.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1)
        return 1;

    static int argc = 1;
    static char name[] = "zq-text-target";
    static char *argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Text target"));
    auto *layout = new QVBoxLayout(&window);
    auto *field = new QLineEdit(&window);
    layout->addWidget(field);
    window.resize(640, 120);
    window.move(80, 80);

    KeyReporter keys;
    application.installEventFilter(&keys);
    QObject::connect(field, &QLineEdit::textChanged,
                     [](const QString &text) { report("text " + stamp() + ' ' + encode(text)); });

    const auto isActive = [&] {
        return window.windowHandle() && QGuiApplication::focusWindow() == window.windowHandle() && field->hasFocus();
    };
    const auto handleCommand = [&](const QByteArray &line) {
        const qsizetype space = line.indexOf(' ');
        const QByteArray command = space < 0 ? line : line.left(space);
        const QByteArray argument = space < 0 ? QByteArray() : line.mid(space + 1);
        if (command == "activate") {
            window.raise();
            window.activateWindow();
            field->setFocus();
            report("activating");
        } else if (command == "state") {
            report(QByteArray("state ") + (isActive() ? "1" : "0"));
        } else if (command == "set-clipboard") {
            QGuiApplication::clipboard()->setText(decode(argument), QClipboard::Clipboard);
            report("clipboard-set");
        } else if (command == "read-clipboard") {
            report("clipboard " + encode(QGuiApplication::clipboard()->text(QClipboard::Clipboard)));
        } else if (command == "clear") {
            field->clear();
            report("cleared");
        } else {
            report("unknown " + command);
        }
    };

    // Commands arrive one per line on stdin; its end (the test closed it or died) ends the window.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray buffer;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char chunk[4096];
        const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (count <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        buffer.append(chunk, count);
        for (qsizetype end = buffer.indexOf('\n'); end >= 0; end = buffer.indexOf('\n')) {
            const QByteArray line = buffer.left(end).trimmed();
            buffer.remove(0, end + 1);
            if (!line.isEmpty())
                handleCommand(line);
        }
    });

    window.show();
    field->setFocus();
    report("ready");
    return application.exec();
}

std::chrono::nanoseconds TextTargetWindow::monotonicNow()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

TextTargetWindow::~TextTargetWindow()
{
    stop();
}

bool TextTargetWindow::start(const QString &display, std::chrono::milliseconds timeout)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(kRoleVariable), QStringLiteral("1"));
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_process.setProcessEnvironment(env);
    m_process.setProgram(QCoreApplication::applicationFilePath());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted(int(timeout.count()))) {
        m_error = QStringLiteral("the text target window did not start: ") + m_process.errorString();
        return false;
    }
    if (!waitForReply("ready", timeout)) {
        m_error = QStringLiteral("the text target window did not open on %1").arg(display);
        stop();
        return false;
    }
    return true;
}

void TextTargetWindow::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool TextTargetWindow::activate(std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    while (!deadline.hasExpired()) {
        if (!send("activate") || !waitForReply("activating", kLoadedMachineTimeout))
            return false;
        collectFor(std::chrono::milliseconds(100));
        if (isActive())
            return true;
    }
    return false;
}

bool TextTargetWindow::isActive()
{
    if (!send("state"))
        return false;
    const auto reply = waitForReply("state", kLoadedMachineTimeout);
    return reply && *reply == "1";
}

bool TextTargetWindow::setClipboard(const QString &text)
{
    return send("set-clipboard " + encode(text)) && waitForReply("clipboard-set", kLoadedMachineTimeout);
}

std::optional<QString> TextTargetWindow::clipboard()
{
    if (!send("read-clipboard"))
        return std::nullopt;
    // Reading a clipboard that another client owns waits for that client (Qt gives up after 5 s).
    const auto reply = waitForReply("clipboard", std::chrono::seconds(10));
    if (!reply)
        return std::nullopt;
    return decode(*reply);
}

bool TextTargetWindow::clear()
{
    if (!send("clear") || !waitForReply("cleared", kLoadedMachineTimeout))
        return false;
    m_changes.clear();
    return true;
}

std::optional<TextTargetWindow::TextChange>
TextTargetWindow::waitForText(const std::function<bool(const QString &)> &accept, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    size_t checked = 0;
    do {
        for (; checked < m_changes.size(); ++checked) {
            if (accept(m_changes[checked].text))
                return m_changes[checked];
        }
    } while (readReports(std::chrono::milliseconds(qMax<qint64>(1, deadline.remainingTime()))) &&
             !deadline.hasExpired());
    for (; checked < m_changes.size(); ++checked) {
        if (accept(m_changes[checked].text))
            return m_changes[checked];
    }
    return std::nullopt;
}

void TextTargetWindow::collectFor(std::chrono::milliseconds duration)
{
    const QDeadlineTimer deadline(duration);
    while (!deadline.hasExpired()) {
        if (!readReports(std::chrono::milliseconds(qMax<qint64>(1, deadline.remainingTime()))))
            return;
    }
}

std::optional<std::chrono::nanoseconds> TextTargetWindow::waitForKeyRelease(int key, std::chrono::nanoseconds after,
                                                                            std::chrono::milliseconds timeout)
{
    const auto find = [&]() -> std::optional<std::chrono::nanoseconds> {
        for (auto it = m_keys.rbegin(); it != m_keys.rend(); ++it) {
            if (!it->isPress && it->key == key && !it->isAutoRepeat && it->at >= after)
                return it->at;
        }
        return std::nullopt;
    };
    const QDeadlineTimer deadline(timeout);
    while (!find() && !deadline.hasExpired()) {
        if (!readReports(std::chrono::milliseconds(qMax<qint64>(1, deadline.remainingTime()))))
            break;
    }
    return find();
}

bool TextTargetWindow::send(const QByteArray &command)
{
    if (m_process.state() != QProcess::Running)
        return false;
    m_process.write(command + '\n');
    return m_process.waitForBytesWritten(2000);
}

std::optional<QByteArray> TextTargetWindow::waitForReply(const QByteArray &prefix, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    for (;;) {
        for (auto it = m_replies.begin(); it != m_replies.end(); ++it) {
            if (*it == prefix || it->startsWith(prefix + ' ')) {
                QByteArray rest = it->mid(prefix.size() + 1);
                m_replies.erase(m_replies.begin(), it + 1);
                return rest;
            }
        }
        if (deadline.hasExpired() || !readReports(std::chrono::milliseconds(qMax<qint64>(1, deadline.remainingTime()))))
            return std::nullopt;
    }
}

void TextTargetWindow::handleReport(const QByteArray &line)
{
    const QList<QByteArray> parts = line.split(' ');
    if (parts.value(0) == "text" && parts.size() >= 2) {
        m_changes.push_back({std::chrono::nanoseconds(parts[1].toLongLong()), decode(parts.value(2))});
    } else if (parts.value(0) == "key" && parts.size() == 5) {
        m_keys.push_back(
            {std::chrono::nanoseconds(parts[2].toLongLong()), parts[1] == "press", parts[3].toInt(), parts[4] == "1"});
    } else {
        m_replies.push_back(line);
    }
}

bool TextTargetWindow::readReports(std::chrono::milliseconds wait)
{
    if (!m_process.canReadLine() && !m_process.waitForReadyRead(int(wait.count())))
        return m_process.state() == QProcess::Running;
    m_pending += m_process.readAllStandardOutput();
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
        handleReport(m_pending.left(end));
        m_pending.remove(0, end + 1);
    }
    return true;
}

} // namespace zq::test
