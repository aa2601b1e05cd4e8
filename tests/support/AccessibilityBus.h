#pragma once

#include "support/ChildProcess.h"

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

namespace zq::test {

// The desktop's accessibility bus for one test process, as a session with a screen reader running
// has it: at-spi-bus-launcher on this process's session bus (its own bus daemon and registry), with
// the screen-reader switch on, so Qt in this process serves its widgets on it. Started on another
// session bus, it serves the applications that are started on that bus afterwards.
// Start it before the windows under test are shown; stop() (or the destructor) ends the launcher,
// its bus and the registry. Use from the main thread.
class AccessibilityBus {
public:
    AccessibilityBus() = default;
    ~AccessibilityBus();
    AccessibilityBus(const AccessibilityBus &) = delete;
    AccessibilityBus &operator=(const AccessibilityBus &) = delete;

    // Needs processSessionBus(). False with errorString() set.
    bool start(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // On the session bus at `sessionBusAddress`, for applications on the X display `display`.
    bool start(const QString &sessionBusAddress, const QString &display,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void stop();
    QString errorString() const { return m_error; }
    // The accessibility bus's own address.
    QString address() const { return m_address; }
    // What a reader of this bus runs with: the session bus and the accessibility bus it serves.
    QProcessEnvironment clientEnvironment() const;

private:
    ChildProcess m_launcher;
    QString m_sessionBus;
    QString m_display;
    QString m_address;
    QString m_error;
};

// One object of the tree as a screen reader reads it.
struct AccessibleNode {
    QString role; // AT-SPI's role name: "push button", "list item", …
    QString name;
    QString text;       // a combo box's value or a field's contents, where it has text
    QStringList states; // "focused", "focusable", "selected", …
    QStringList actions;
    QRect extents; // on the screen
    QList<AccessibleNode> children;

    bool has(const QString &state) const { return states.contains(state); }
    // Every node below (this one included) that `match` accepts, in tree order.
    QList<const AccessibleNode *> findAll(const std::function<bool(const AccessibleNode &)> &match) const;
    const AccessibleNode *find(const std::function<bool(const AccessibleNode &)> &match) const;
    const AccessibleNode *findNamed(const QString &role, const QString &name) const;
    // The node with the focused state, or null.
    const AccessibleNode *focused() const;
};

// Reads this process's accessible tree the way a screen reader does: from another process, over the
// accessibility bus. Qt's events run meanwhile, so this process answers. Null and `error` set on failure.
std::unique_ptr<AccessibleNode> readAccessibleTree(QString *error = nullptr,
                                                   std::chrono::milliseconds timeout = std::chrono::seconds(60));
// The same for another process, `pid`, on the bus of `bus`.
std::unique_ptr<AccessibleNode> readAccessibleTree(pid_t pid, const AccessibilityBus &bus, QString *error = nullptr,
                                                   std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Listens, from another process, to the accessibility events of one kind (such as
// "object:announcement") that this process (or another one) sends.
class AccessibilityEventListener {
public:
    struct Event {
        QString type;
        QString data; // the event's text, when it carries one
        QString sourceRole;
        QString sourceName;
        int detail1 = 0; // for a state change: 1 gained, 0 lost
        int serial = -1; // with Window::read: which event of the listener's it is
        QString error;   // set when the event came but its source could not be read
        // The window the source is in, read when the event came, if asked for.
        std::shared_ptr<const AccessibleNode> window;
    };
    enum class Window { skip, read };

    AccessibilityEventListener() = default;
    ~AccessibilityEventListener();

    // Returns once the listener is registered and the application has taken it in, so it sends the
    // events from now on (Qt's events run meanwhile). False with errorString().
    bool start(const QString &kind, std::chrono::milliseconds listenFor = std::chrono::seconds(60));
    // The same for another process, `pid`, on the bus of `bus`; with Window::read each event carries
    // the tree of the window its source is in, which is how a reader meets a pop-up window.
    bool start(const QString &kind, pid_t pid, const AccessibilityBus &bus, Window window,
               std::chrono::milliseconds listenFor = std::chrono::seconds(60));
    // Runs Qt's events until an event arrives for which `match` holds; it is returned through `found`.
    // Each call looks only at the events after the one the previous call found.
    bool waitFor(const std::function<bool(const Event &)> &match, Event *found = nullptr,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // With Window::read: the window of `event`'s source read again, as it is now (one that was still
    // moving into place when the event came has settled since). Null when it cannot be read.
    std::shared_ptr<const AccessibleNode> windowNow(const Event &event,
                                                    std::chrono::milliseconds timeout = std::chrono::seconds(20));
    const QList<Event> &events() const { return m_events; }
    // What was heard, one event a line ("menu item 'Pause' 1"), for a failure's message.
    QString heard() const;
    QString errorString() const { return m_error; }

private:
    bool start(const QStringList &arguments, const QProcessEnvironment &environment);
    void drain();

    std::unique_ptr<QProcess> m_reader;
    QByteArray m_pending;
    QList<Event> m_events;
    qsizetype m_unmatched = 0; // the first event after the last one found
    QString m_error;
};

} // namespace zq::test
