#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace zq::test {

// Another application's window with a focused one-line text field: where dictated text should land.
//
// It is a separate process (this test binary started again in a window role, before main()), so
// the paste crosses processes as it does for a user. The window reports every change of its text
// and every key it receives, each stamped with the monotonic clock when it happened there, and
// owns or reads the clipboard on request.
//
// Use from one thread. The window ends when this object is destroyed or the test process dies.
class TextTargetWindow {
public:
    // One state of the text field, with when it took that state (CLOCK_MONOTONIC).
    struct TextChange {
        std::chrono::nanoseconds at{0};
        QString text;
    };
    // One key the window received (Qt::Key values), with when it arrived (CLOCK_MONOTONIC).
    struct KeyEvent {
        std::chrono::nanoseconds at{0};
        bool isPress = false;
        int key = 0;
        bool isAutoRepeat = false;
    };

    TextTargetWindow() = default;
    ~TextTargetWindow();
    TextTargetWindow(const TextTargetWindow &) = delete;
    TextTargetWindow &operator=(const TextTargetWindow &) = delete;

    // Opens the window on `display` and waits until it is shown. False with errorString() set.
    bool start(const QString &display, std::chrono::milliseconds timeout = std::chrono::seconds(15));
    void stop();
    QString errorString() const { return m_error; }
    // The window's process (to freeze it with SIGSTOP); 0 while it is not running.
    qint64 processId() const { return m_process.processId(); }

    // Raises the window and gives it the keyboard focus; true once the window reports it is active.
    // A window manager started just before may take seconds on a loaded machine to manage the window.
    bool activate(std::chrono::milliseconds timeout = std::chrono::seconds(15));
    // Whether the window holds the keyboard focus right now (asked of the window).
    bool isActive();
    // Makes the window the owner of the clipboard with `text`.
    bool setClipboard(const QString &text);
    // The clipboard's text as the window reads it; nothing when the window does not answer.
    std::optional<QString> clipboard();
    // Empties the text field (and forgets the changes seen so far).
    bool clear();

    // The field's text as last reported.
    QString text() const { return m_changes.empty() ? QString() : m_changes.back().text; }
    // Every change reported since start or the last clear(), oldest first.
    const std::vector<TextChange> &textChanges() const { return m_changes; }
    const std::vector<KeyEvent> &keyEvents() const { return m_keys; }

    // Reads reports until the text satisfies `accept` (checked on the current text first); the change
    // that did, or nothing at the deadline.
    std::optional<TextChange> waitForText(const std::function<bool(const QString &)> &accept,
                                          std::chrono::milliseconds timeout);
    // Reads reports for `duration`: whatever arrives meanwhile is recorded.
    void collectFor(std::chrono::milliseconds duration);
    // The last release of `key` that was not an auto-repeat, waiting up to `timeout` for one after
    // `after` (CLOCK_MONOTONIC).
    std::optional<std::chrono::nanoseconds> waitForKeyRelease(int key, std::chrono::nanoseconds after,
                                                              std::chrono::milliseconds timeout);

    // CLOCK_MONOTONIC now, on the same clock as the window's stamps.
    static std::chrono::nanoseconds monotonicNow();

    // The window role: runs the window when the environment asks for it. Called before main().
    static int runWindowRole();

private:
    bool send(const QByteArray &command);
    // Reads reports until one starts with `prefix` (returns the rest of it) or the deadline passes.
    std::optional<QByteArray> waitForReply(const QByteArray &prefix, std::chrono::milliseconds timeout);
    // Handles one report line; returns it unchanged for reply matching.
    void handleReport(const QByteArray &line);
    // Reads what arrived within `wait`; false when the window is gone.
    bool readReports(std::chrono::milliseconds wait);

    QProcess m_process;
    QByteArray m_pending;
    std::vector<QByteArray> m_replies;
    std::vector<TextChange> m_changes;
    std::vector<KeyEvent> m_keys;
    QString m_error;
};

} // namespace zq::test
