#include "support/AccessibilityBus.h"

#include "support/DBusSession.h"
#include "support/Polling.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <unistd.h>

namespace zq::test {

namespace {

const QString kReader = QStringLiteral(ZQ_TEST_SOURCE_DIR "/support/accessibility_reader.py");
// Debian's own interpreter, which has the GObject bindings; not one a developer put first on PATH.
const QString kPython = QStringLiteral("/usr/bin/python3");

QStringList strings(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &item : value.toArray())
        list.append(item.toString());
    return list;
}

AccessibleNode nodeFrom(const QJsonObject &object)
{
    AccessibleNode node;
    node.role = object.value(QStringLiteral("role")).toString();
    node.name = object.value(QStringLiteral("name")).toString();
    node.text = object.value(QStringLiteral("text")).toString();
    node.states = strings(object.value(QStringLiteral("states")));
    node.actions = strings(object.value(QStringLiteral("actions")));
    const QJsonArray box = object.value(QStringLiteral("extents")).toArray();
    if (box.size() == 4)
        node.extents = QRect(box[0].toInt(), box[1].toInt(), box[2].toInt(), box[3].toInt());
    for (const QJsonValue &child : object.value(QStringLiteral("children")).toArray())
        node.children.append(nodeFrom(child.toObject()));
    return node;
}

// Runs Qt's events while `process` runs, so this process answers the reader's questions.
bool runWhileServing(QProcess &process, std::chrono::milliseconds timeout)
{
    return processEventsUntil([&] { return process.state() == QProcess::NotRunning; }, timeout);
}

} // namespace

AccessibilityBus::~AccessibilityBus()
{
    stop();
}

bool AccessibilityBus::start(std::chrono::milliseconds timeout)
{
    if (!processSessionBus()) {
        m_error = QStringLiteral("no session bus: ") + processSessionBusError();
        return false;
    }
    return start(processSessionBus()->address(), qEnvironmentVariable("DISPLAY"), timeout);
}

bool AccessibilityBus::start(const QString &sessionBusAddress, const QString &display,
                             std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    m_sessionBus = sessionBusAddress;
    m_display = display;
    ChildSpec spec;
    spec.program = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
    spec.arguments = {QStringLiteral("--launch-immediately"), QStringLiteral("--a11y=1"),
                      QStringLiteral("--screen-reader=1")};
    spec.environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBusAddress);
    if (!display.isEmpty())
        spec.environment.insert(QStringLiteral("DISPLAY"), display);
    if (!m_launcher.start(spec)) {
        m_error = QStringLiteral("at-spi-bus-launcher: %1 (is at-spi2-core installed?)").arg(m_launcher.errorString());
        return false;
    }
    const QString connectionName = QStringLiteral("zq-accessibility-bus-%1").arg(quintptr(this));
    QDBusConnection session = QDBusConnection::connectToBus(sessionBusAddress, connectionName);
    QDBusInterface bus(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"),
                       session);
    while (m_address.isEmpty()) {
        const QDBusReply<QString> reply = bus.call(QStringLiteral("GetAddress"));
        if (reply.isValid())
            m_address = reply.value();
        if (m_address.isEmpty()) {
            if (!m_launcher.isRunning() || deadline.hasExpired()) {
                m_error = QStringLiteral("the accessibility bus did not come up: %1").arg(m_launcher.logTail());
                m_launcher.stop();
                QDBusConnection::disconnectFromBus(connectionName);
                return false;
            }
            usleep(20 * 1000);
        }
    }
    // What a screen reader does when it starts: toolkits serve their trees once they see it.
    QDBusInterface status(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                          QStringLiteral("org.freedesktop.DBus.Properties"), session);
    for (const char *property : {"IsEnabled", "ScreenReaderEnabled"})
        status.call(QStringLiteral("Set"), QStringLiteral("org.a11y.Status"), QString::fromLatin1(property),
                    QVariant::fromValue(QDBusVariant(true)));
    QDBusConnection::disconnectFromBus(connectionName);
    return true;
}

QProcessEnvironment AccessibilityBus::clientEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_sessionBus);
    environment.insert(QStringLiteral("AT_SPI_BUS_ADDRESS"), m_address);
    if (!m_display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), m_display);
    return environment;
}

void AccessibilityBus::stop()
{
    m_launcher.stop();
    m_address.clear();
}

QList<const AccessibleNode *> AccessibleNode::findAll(const std::function<bool(const AccessibleNode &)> &match) const
{
    QList<const AccessibleNode *> found;
    if (match(*this))
        found.append(this);
    for (const AccessibleNode &child : children)
        found.append(child.findAll(match));
    return found;
}

const AccessibleNode *AccessibleNode::find(const std::function<bool(const AccessibleNode &)> &match) const
{
    if (match(*this))
        return this;
    for (const AccessibleNode &child : children) {
        if (const AccessibleNode *found = child.find(match))
            return found;
    }
    return nullptr;
}

const AccessibleNode *AccessibleNode::findNamed(const QString &role, const QString &name) const
{
    return find([&](const AccessibleNode &node) { return node.role == role && node.name == name; });
}

const AccessibleNode *AccessibleNode::focused() const
{
    return find([](const AccessibleNode &node) { return node.has(QStringLiteral("focused")); });
}

namespace {

std::unique_ptr<AccessibleNode> readTree(qint64 pid, const QProcessEnvironment &environment, QString *error,
                                         std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    QString why;
    // Until the toolkit has registered this process with the bus's registry, the reader finds nothing.
    while (!deadline.hasExpired()) {
        QProcess reader;
        reader.setProcessEnvironment(environment);
        reader.start(kPython, {kReader, QStringLiteral("tree"), QString::number(pid)});
        if (!reader.waitForStarted(10000)) {
            why = QStringLiteral("cannot start the reader: ") + reader.errorString();
            break;
        }
        if (!runWhileServing(reader, std::chrono::milliseconds(std::max<qint64>(1, deadline.remainingTime())))) {
            reader.kill();
            reader.waitForFinished();
            why = QStringLiteral("the reader did not finish in time");
            break;
        }
        if (reader.exitStatus() == QProcess::NormalExit && reader.exitCode() == 2) {
            why = QStringLiteral("the process is not on the accessibility bus");
            processEventsUntil([] { return false; }, std::chrono::milliseconds(200));
            continue;
        }
        QJsonParseError parse{};
        const QJsonDocument document = QJsonDocument::fromJson(reader.readAllStandardOutput(), &parse);
        if (reader.exitCode() != 0 || !document.isObject()) {
            why = QStringLiteral("the reader failed (%1): %2 %3")
                      .arg(reader.exitCode())
                      .arg(parse.errorString(), QString::fromLocal8Bit(reader.readAllStandardError()));
            break;
        }
        return std::make_unique<AccessibleNode>(nodeFrom(document.object()));
    }
    if (error)
        *error = why;
    return nullptr;
}

} // namespace

std::unique_ptr<AccessibleNode> readAccessibleTree(QString *error, std::chrono::milliseconds timeout)
{
    return readTree(QCoreApplication::applicationPid(), QProcessEnvironment::systemEnvironment(), error, timeout);
}

std::unique_ptr<AccessibleNode> readAccessibleTree(pid_t pid, const AccessibilityBus &bus, QString *error,
                                                   std::chrono::milliseconds timeout)
{
    return readTree(pid, bus.clientEnvironment(), error, timeout);
}

AccessibilityEventListener::~AccessibilityEventListener()
{
    if (m_reader && m_reader->state() != QProcess::NotRunning) {
        m_reader->kill();
        m_reader->waitForFinished();
    }
}

bool AccessibilityEventListener::start(const QString &kind, std::chrono::milliseconds listenFor)
{
    return start({kReader, QStringLiteral("listen"), QString::number(QCoreApplication::applicationPid()), kind,
                  QString::number(static_cast<double>(listenFor.count()) / 1000.0)},
                 QProcessEnvironment::systemEnvironment());
}

bool AccessibilityEventListener::start(const QString &kind, pid_t pid, const AccessibilityBus &bus, Window window,
                                       std::chrono::milliseconds listenFor)
{
    QStringList arguments{kReader, QStringLiteral("listen"), QString::number(pid), kind,
                          QString::number(static_cast<double>(listenFor.count()) / 1000.0)};
    if (window == Window::read)
        arguments << QStringLiteral("window");
    return start(arguments, bus.clientEnvironment());
}

bool AccessibilityEventListener::start(const QStringList &arguments, const QProcessEnvironment &environment)
{
    m_reader = std::make_unique<QProcess>();
    m_reader->setProcessChannelMode(QProcess::SeparateChannels);
    m_reader->setProcessEnvironment(environment);
    m_reader->start(kPython, arguments);
    if (!m_reader->waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start the reader: ") + m_reader->errorString();
        return false;
    }
    const bool ready = processEventsUntil(
        [&] {
            m_pending += m_reader->readAllStandardOutput();
            return m_pending.startsWith("ready\n") || m_reader->state() == QProcess::NotRunning;
        },
        std::chrono::seconds(30));
    if (!ready || !m_pending.startsWith("ready\n")) {
        m_error =
            QStringLiteral("the listener did not start: ") + QString::fromLocal8Bit(m_reader->readAllStandardError());
        return false;
    }
    m_pending.remove(0, 6);
    return true;
}

void AccessibilityEventListener::drain()
{
    m_pending += m_reader->readAllStandardOutput();
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(m_pending.left(end)).object();
        m_pending.remove(0, end + 1);
        m_events.append(
            Event{object.value(QStringLiteral("type")).toString(), object.value(QStringLiteral("data")).toString(),
                  object.value(QStringLiteral("role")).toString(), object.value(QStringLiteral("name")).toString(),
                  object.value(QStringLiteral("detail1")).toInt(), object.value(QStringLiteral("serial")).toInt(-1),
                  object.value(QStringLiteral("error")).toString(), nullptr});
        if (object.contains(QStringLiteral("window")))
            m_events.last().window =
                std::make_shared<const AccessibleNode>(nodeFrom(object.value(QStringLiteral("window")).toObject()));
    }
}

std::shared_ptr<const AccessibleNode> AccessibilityEventListener::windowNow(const Event &event,
                                                                            std::chrono::milliseconds timeout)
{
    if (!m_reader || event.serial < 0 ||
        m_reader->write(QByteArray("window ") + QByteArray::number(event.serial) + '\n') < 0)
        return nullptr;
    // Answered in turn with the events: the answer's place in the list is not that of the events the
    // next waitFor() looks at.
    const qsizetype from = m_events.size();
    std::shared_ptr<const AccessibleNode> window;
    processEventsUntil(
        [&] {
            drain();
            for (qsizetype i = from; i < m_events.size(); ++i) {
                if (m_events[i].type == QStringLiteral("window")) {
                    window = m_events[i].window;
                    m_events.removeAt(i);
                    return true;
                }
            }
            return false;
        },
        timeout);
    return window;
}

QString AccessibilityEventListener::heard() const
{
    QStringList lines;
    for (const Event &event : m_events) {
        lines << (event.error.isEmpty()
                      ? QStringLiteral("%1 '%2' %3").arg(event.sourceRole, event.sourceName).arg(event.detail1)
                      : QStringLiteral("%1, unread: %2").arg(event.type, event.error));
    }
    return QStringLiteral("%1 events heard\n").arg(lines.size()) + lines.join(QLatin1Char('\n'));
}

bool AccessibilityEventListener::waitFor(const std::function<bool(const Event &)> &match, Event *found,
                                         std::chrono::milliseconds timeout)
{
    if (!m_reader)
        return false;
    qsizetype seen = m_unmatched;
    return processEventsUntil(
        [&] {
            drain();
            for (; seen < m_events.size(); ++seen) {
                if (match(m_events[seen])) {
                    if (found)
                        *found = m_events[seen];
                    m_unmatched = seen + 1;
                    return true;
                }
            }
            return false;
        },
        timeout);
}

} // namespace zq::test
