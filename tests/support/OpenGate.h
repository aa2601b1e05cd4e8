#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

namespace zq::test {

// Holds a program's opening of files whose path contains `pattern`, before the file is read, until
// the test lets it go: for a background job (a model load) that must still run when the test acts,
// however fast this machine is. The program is started with variables(), which preloads a small
// library into it; each thread that opens such a file waits in a read of a FIFO this gate keeps
// open, holding no lock, and the rest of the program runs on. Destroying the gate lets them go.
class OpenGate {
public:
    explicit OpenGate(QByteArray pattern);
    ~OpenGate();
    OpenGate(const OpenGate &) = delete;
    OpenGate &operator=(const OpenGate &) = delete;

    // False with errorString() set when the gate could not be made.
    bool isReady() const { return m_writer >= 0; }
    QString errorString() const { return m_error; }

    // The variables that load the gate into a program started with them (a library preloaded
    // before any this process preloads).
    QProcessEnvironment variables() const;

    // Waits until at least one opening is held; what is held, one "<thread name> <path>" each, or
    // nothing at the end of `timeout`.
    QStringList waitUntilHeld(std::chrono::milliseconds timeout) const;
    QStringList held() const;

    // Lets every held opening, and every later one, go ahead.
    void open();

private:
    QByteArray m_pattern;
    std::unique_ptr<QTemporaryDir> m_dir;
    int m_writer = -1;
    QString m_error;
};

} // namespace zq::test
