#include "support/FakeMediaPlayers.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QMetaObject>
#include <QUuid>

#include <algorithm>

namespace zq::test {

platform::MediaPlayer &FakeMediaPlayers::add(const QString &name, platform::PlaybackStatus status)
{
    m_players.push_back({name, QStringLiteral(":1.%1").arg(m_nextInstance++), status});
    return m_players.back();
}

void FakeMediaPlayers::remove(const QString &name)
{
    std::erase_if(m_players, [&](const platform::MediaPlayer &p) { return p.name == name; });
}

void FakeMediaPlayers::setStatus(const QString &name, platform::PlaybackStatus status)
{
    for (platform::MediaPlayer &player : m_players) {
        if (player.name == name)
            player.status = status;
    }
}

platform::PlaybackStatus FakeMediaPlayers::status(const QString &name) const
{
    for (const platform::MediaPlayer &player : m_players) {
        if (player.name == name)
            return player.status;
    }
    return platform::PlaybackStatus::stopped;
}

platform::MediaPlayer *FakeMediaPlayers::find(const platform::MediaPlayer &player)
{
    const auto found = std::find_if(m_players.begin(), m_players.end(), [&](const platform::MediaPlayer &p) {
        return p.name == player.name && p.instance == player.instance;
    });
    return found == m_players.end() ? nullptr : &*found;
}

bool FakeMediaPlayers::pause(const platform::MediaPlayer &player)
{
    m_pauses.push_back(player.name);
    platform::MediaPlayer *target = find(player);
    if (m_failCalls || !target)
        return false;
    target->status = platform::PlaybackStatus::paused;
    return true;
}

bool FakeMediaPlayers::play(const platform::MediaPlayer &player)
{
    m_plays.push_back(player.name);
    platform::MediaPlayer *target = find(player);
    if (m_failCalls || !target)
        return false;
    target->status = platform::PlaybackStatus::playing;
    return true;
}

namespace {
constexpr auto kObjectPath = "/org/mpris/MediaPlayer2";
}

QString FakeMprisHandler::playbackStatus() const
{
    QMutexLocker lock(&m_mutex);
    return m_status;
}

void FakeMprisHandler::setPlaybackStatus(const QString &status)
{
    QMutexLocker lock(&m_mutex);
    m_status = status;
}

void FakeMprisHandler::Pause()
{
    ++m_player.m_pauses;
    setPlaybackStatus(QStringLiteral("Paused"));
}

void FakeMprisHandler::Play()
{
    ++m_player.m_plays;
    setPlaybackStatus(QStringLiteral("Playing"));
}

FakeMprisPlayer::FakeMprisPlayer(QString suffix) : m_busName(QStringLiteral("org.mpris.MediaPlayer2.") + suffix)
{
    m_thread.setObjectName(QStringLiteral("zq-fake-mpris"));
}

FakeMprisPlayer::~FakeMprisPlayer()
{
    stop();
}

bool FakeMprisPlayer::start(const QString &busAddress, const QString &status)
{
    m_connectionName = QStringLiteral("zq-fake-mpris-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDBusConnection connection = QDBusConnection::connectToBus(busAddress, m_connectionName);
    if (!connection.isConnected()) {
        m_error = QStringLiteral("cannot connect to the bus: %1").arg(connection.lastError().message());
        stop();
        return false;
    }
    m_thread.start();
    m_handler = new FakeMprisHandler(*this);
    m_handler->setPlaybackStatus(status);
    m_handler->moveToThread(&m_thread);
    // Registered from the handler's thread, so calls are served there.
    bool registered = false;
    QMetaObject::invokeMethod(
        m_handler,
        [&] {
            registered =
                connection.registerObject(QLatin1String(kObjectPath), m_handler,
                                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
        },
        Qt::BlockingQueuedConnection);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = connection.interface()->registerService(
        m_busName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!registered || !reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        m_error = QStringLiteral("cannot export the player %1").arg(m_busName);
        stop();
        return false;
    }
    return true;
}

void FakeMprisPlayer::stop()
{
    if (!m_connectionName.isEmpty()) {
        QDBusConnection connection(m_connectionName);
        if (connection.isConnected() && m_handler && m_thread.isRunning()) {
            connection.interface()->unregisterService(m_busName);
            QMetaObject::invokeMethod(
                m_handler, [&] { connection.unregisterObject(QLatin1String(kObjectPath)); },
                Qt::BlockingQueuedConnection);
        }
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connectionName.clear();
    }
    if (m_thread.isRunning()) {
        m_thread.quit();
        m_thread.wait();
    }
    delete m_handler;
    m_handler = nullptr;
}

QString FakeMprisPlayer::status() const
{
    return m_handler ? m_handler->playbackStatus() : QString();
}

void FakeMprisPlayer::setStatus(const QString &status)
{
    if (m_handler)
        m_handler->setPlaybackStatus(status);
}

} // namespace zq::test
