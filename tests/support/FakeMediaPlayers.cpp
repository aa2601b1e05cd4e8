#include "support/FakeMediaPlayers.h"

#include <QMetaObject>

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

FakeMprisPlayer::FakeMprisPlayer(QString suffix)
    : m_busName(QStringLiteral("org.mpris.MediaPlayer2.") + suffix), m_service(QStringLiteral("zq-fake-mpris"))
{}

FakeMprisPlayer::~FakeMprisPlayer()
{
    stop();
}

bool FakeMprisPlayer::start(const QString &busAddress, const QString &status)
{
    auto *handler = new FakeMprisHandler(*this);
    handler->setPlaybackStatus(status);
    return m_service.start(busAddress, handler, m_busName, QLatin1String(kObjectPath),
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
}

void FakeMprisPlayer::stop()
{
    m_service.stop();
}

QString FakeMprisPlayer::status() const
{
    const FakeMprisHandler *handler = m_service.handler<FakeMprisHandler>();
    return handler ? handler->playbackStatus() : QString();
}

void FakeMprisPlayer::setStatus(const QString &status)
{
    if (FakeMprisHandler *handler = m_service.handler<FakeMprisHandler>())
        handler->setPlaybackStatus(status);
}

} // namespace zq::test
