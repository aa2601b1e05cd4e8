#pragma once

#include "support/ChildProcess.h"

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

namespace zq::test {

// A private session bus (dbus-daemon with its own config and socket in a temporary folder), and
// optionally an unlocked gnome-keyring serving org.freedesktop.secrets on it. The bus activates
// no services, so nothing from the real session (a notification daemon, say) starts on it.
// It sets no environment variable: put address() in DBUS_SESSION_BUS_ADDRESS.
// Use from one thread; the destructor stops the keyring, then the bus. Waiting for the keyring
// uses QtDBus, so a QCoreApplication must exist (TestMain makes one).
// Code in this process that reads DBUS_SESSION_BUS_ADDRESS (Qt's session bus, libsecret) keeps the
// first bus it reaches until the process ends: such tests use processSessionBus() below.
class DBusSession {
public:
    static constexpr auto kKeyringPassword = "zq-test-keyring";

    DBusSession() = default;
    ~DBusSession();
    DBusSession(const DBusSession &) = delete;
    DBusSession &operator=(const DBusSession &) = delete;

    // Starts the bus and waits for its address. Returns false with errorString() set.
    bool start(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Starts gnome-keyring (secrets only) on the bus with a private HOME, its login keyring
    // created and unlocked with kKeyringPassword; waits until org.freedesktop.secrets is owned.
    // True at once when it already serves. Its items outlive a stop and a new start.
    bool startKeyring(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Stops the keyring and waits until nobody serves org.freedesktop.secrets: a bus whose
    // keyring went away. False when the name is still owned at the deadline.
    bool stopKeyring(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void stop();

    bool isRunning() const { return m_bus.isRunning(); }
    QString errorString() const { return m_error; }
    // "unix:path=/…/bus,guid=…", for DBUS_SESSION_BUS_ADDRESS.
    QString address() const { return m_address; }
    // This process's environment pointed at this bus, without DISPLAY (so a locked keyring
    // fails at once instead of asking for a password), HOME and XDG folders private to the bus.
    QProcessEnvironment clientEnvironment() const;

    // Whether `name` has an owner on this bus right now.
    bool hasOwner(const QString &name) const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    ChildProcess m_bus;
    ChildProcess m_keyring;
    QString m_address;
    QString m_error;
};

// The private session bus of this test process: TestMain starts it for integration and e2e
// binaries and exports it as DBUS_SESSION_BUS_ADDRESS for the whole run, so every test of the
// process talks to the same bus. A test that needs the keyring starts it there; one that needs a
// bus without it stops it. Null in unit binaries, or when it did not start (the error says why).
DBusSession *processSessionBus();
QString processSessionBusError();
void setProcessSessionBus(DBusSession *bus, const QString &error);

} // namespace zq::test
