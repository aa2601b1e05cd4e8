#include "support/DBusSession.h"

#include "support/ServiceEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QUuid>

#include <unistd.h>

// Qt's `signals` keyword macro breaks GLib's headers, which use the word as a field name.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

namespace zq::test {

namespace {

DBusSession *s_processBus = nullptr;
QString s_processBusError;

// libsecret keeps the secret service it opened (with a session of that keyring daemon) for the
// life of the process: after the keyring restarts or goes, it must look again.
void forgetSecretService()
{
    secret_service_disconnect();
}

// GLib ends the process with SIGTERM when the session bus it is connected to goes away under it,
// and hands out its one session connection for as long as anything holds it: a connection to a
// bus that has gone would then serve the next test's bus ("The connection is closed"). Before this
// process's session bus stops, its connections let go of it quietly, and the main context runs the
// callbacks that still hold the connection until GLib has dropped it.
void releaseSessionBusClients()
{
    forgetSecretService();
    GDBusConnection *connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!connection)
        return;
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    GWeakRef held;
    g_weak_ref_init(&held, connection);
    g_object_unref(connection);
    const QDeadlineTimer deadline(std::chrono::seconds(2));
    while (gpointer alive = g_weak_ref_get(&held)) {
        g_object_unref(alive);
        if (deadline.hasExpired())
            break;
        if (!g_main_context_iteration(nullptr, FALSE))
            usleep(5 * 1000);
    }
    g_weak_ref_clear(&held);
}

// No <servicedir>: the bus activates nothing. Everyone may own and talk to anything.
constexpr char kConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

DBusSession::~DBusSession()
{
    stop();
}

bool DBusSession::start(std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    m_dir = makeServiceDir(QStringLiteral("zq-dbus"));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("dbus-daemon: cannot create a temporary folder: %1").arg(m_dir->errorString());
        return false;
    }
    for (const char *folder : {"home", "runtime", "data", "config", "cache"}) {
        const QString path = m_dir->filePath(QLatin1String(folder));
        QDir().mkpath(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QString configPath = m_dir->filePath(QStringLiteral("session.conf"));
    QFile config(configPath);
    const QByteArray configText = QString::fromLatin1(kConfig).arg(m_dir->filePath(QStringLiteral("bus"))).toUtf8();
    if (!config.open(QIODevice::WriteOnly) || config.write(configText) != configText.size()) {
        m_error = QStringLiteral("dbus-daemon: cannot write %1").arg(configPath);
        return false;
    }
    config.close();

    ChildSpec spec;
    spec.program = QStringLiteral("dbus-daemon");
    spec.arguments = {QStringLiteral("--config-file=") + configPath, QStringLiteral("--print-address"),
                      QStringLiteral("--nofork"), QStringLiteral("--nopidfile")};
    spec.environment = clientEnvironment();
    spec.standardOutput = ChildStream::Pipe;
    spec.logPath = m_dir->filePath(QStringLiteral("dbus-daemon.log"));
    if (!m_bus.start(spec)) {
        m_error = QStringLiteral("dbus-daemon: %1").arg(m_bus.errorString());
        return false;
    }
    // The address is printed once the bus listens.
    const std::optional<QByteArray> line = m_bus.readLine(ChildProcess::Channel::StandardOutput, deadline);
    if (!line || line->trimmed().isEmpty()) {
        m_error = QStringLiteral("dbus-daemon printed no address within %1 ms; log:\n%2")
                      .arg(timeout.count())
                      .arg(m_bus.logTail());
        m_bus.stop();
        return false;
    }
    m_address = QString::fromLocal8Bit(line->trimmed());
    return true;
}

bool DBusSession::startKeyring(std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    if (m_address.isEmpty()) {
        m_error = QStringLiteral("gnome-keyring: the bus is not running");
        return false;
    }
    const QString secrets = QStringLiteral("org.freedesktop.secrets");
    if (m_keyring.isRunning() && hasOwner(secrets))
        return true;
    forgetSecretService();
    ChildSpec spec;
    spec.program = QStringLiteral("gnome-keyring-daemon");
    spec.arguments = {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                      QStringLiteral("--components=secrets")};
    spec.environment = clientEnvironment();
    spec.standardInput = QByteArray(kKeyringPassword);
    spec.logPath = m_dir->filePath(QStringLiteral("gnome-keyring.log"));
    if (!m_keyring.start(spec)) {
        m_error = QStringLiteral("gnome-keyring: %1").arg(m_keyring.errorString());
        return false;
    }
    while (!hasOwner(secrets)) {
        if (!m_keyring.isRunning() || deadline.hasExpired()) {
            m_error = QStringLiteral("gnome-keyring %1 within %2 ms; log:\n%3")
                          .arg(m_keyring.isRunning() ? QStringLiteral("did not take %1").arg(secrets)
                                                     : QStringLiteral("exited"))
                          .arg(timeout.count())
                          .arg(m_keyring.logTail());
            m_keyring.stop();
            return false;
        }
        usleep(20 * 1000);
    }
    return true;
}

bool DBusSession::stopKeyring(std::chrono::milliseconds timeout)
{
    m_keyring.stop();
    const QDeadlineTimer deadline(timeout);
    while (hasOwner(QStringLiteral("org.freedesktop.secrets"))) {
        if (deadline.hasExpired())
            return false;
        usleep(20 * 1000);
    }
    forgetSecretService();
    return true;
}

void DBusSession::stop()
{
    if (!m_address.isEmpty() && qgetenv("DBUS_SESSION_BUS_ADDRESS") == m_address.toUtf8())
        releaseSessionBusClients();
    m_keyring.stop();
    m_bus.stop();
    m_address.clear();
}

QProcessEnvironment DBusSession::clientEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!m_dir)
        return environment;
    environment.insert(QStringLiteral("HOME"), m_dir->filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir->filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir->filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir->filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       m_address.isEmpty() ? QStringLiteral("disabled:") : m_address);
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return environment;
}

bool DBusSession::hasOwner(const QString &name) const
{
    if (m_address.isEmpty())
        return false;
    const QString connectionName =
        QStringLiteral("zq-dbus-probe-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    bool owned = false;
    {
        QDBusConnection connection = QDBusConnection::connectToBus(m_address, connectionName);
        if (connection.isConnected() && connection.interface())
            owned = connection.interface()->isServiceRegistered(name).value();
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return owned;
}

DBusSession *processSessionBus()
{
    return s_processBus;
}

QString processSessionBusError()
{
    return s_processBusError;
}

void setProcessSessionBus(DBusSession *bus, const QString &error)
{
    s_processBus = bus;
    s_processBusError = error;
}

} // namespace zq::test
