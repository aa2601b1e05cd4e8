#pragma once

#include <QObject>

class QSocketNotifier;

namespace zq::rt {

// Turns SIGTERM, SIGINT and SIGHUP into the Qt signal `received` on the thread that owns this
// object (the main thread), so the application can leave through its normal quit path. The
// handler itself only writes the signal number into a pipe, which is async-signal-safe.
//
// At most one instance may exist at a time; its destructor restores the previous handlers.
class UnixSignals : public QObject {
    Q_OBJECT
public:
    explicit UnixSignals(QObject *parent = nullptr);
    ~UnixSignals() override;

    // False when the pipe or a handler could not be set up (logged); signals then keep their
    // default action, which also ends the process.
    bool isInstalled() const { return m_installed; }

    // Whether a quit signal reached the handler since this object was made, or waits for a thread to
    // take it (quitSignalWaiting()): the main thread may never read what the handler wrote, stuck in a
    // call that does not return. Any thread may ask.
    static bool quitAsked();

    // Whether a quit signal was sent to the process and no thread has taken it yet: the main
    // thread, to which it goes, is stuck in a call that does not return (into a folder that stopped
    // answering, say). Any thread may ask.
    static bool quitSignalWaiting();

signals:
    // One emission per delivered signal, in arrival order.
    void received(int signalNumber);

private:
    void readPendingSignals();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    bool m_installed = false;
};

} // namespace zq::rt
