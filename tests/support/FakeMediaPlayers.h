#pragma once

#include "platform/MediaPlayers.h"
#include "support/BusServiceHost.h"

#include <QDBusConnection>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <vector>

namespace zq::test {

// Scriptable media players for unit tests: players come, go and change status; pause() and
// play() act only on an instance that is still there. Main thread only.
class FakeMediaPlayers final : public platform::MediaPlayers {
public:
    // Adds a player (a new instance each time) and returns it.
    platform::MediaPlayer &add(const QString &name, platform::PlaybackStatus status);
    void remove(const QString &name);
    // The player as the user changes it.
    void setStatus(const QString &name, platform::PlaybackStatus status);
    platform::PlaybackStatus status(const QString &name) const;
    void setFailCalls(bool fail) { m_failCalls = fail; }

    // Names, in call order.
    const std::vector<QString> &pauseCalls() const { return m_pauses; }
    const std::vector<QString> &playCalls() const { return m_plays; }

    std::vector<platform::MediaPlayer> players() override { return m_players; }
    bool pause(const platform::MediaPlayer &player) override;
    bool play(const platform::MediaPlayer &player) override;

private:
    platform::MediaPlayer *find(const platform::MediaPlayer &player);

    std::vector<platform::MediaPlayer> m_players;
    std::vector<QString> m_pauses;
    std::vector<QString> m_plays;
    int m_nextInstance = 1;
    bool m_failCalls = false;
};

class FakeMprisHandler;

// A media player on a D-Bus bus, answering the player interface at /org/mpris/MediaPlayer2 like a
// real one: PlaybackStatus ("Playing", "Paused", "Stopped"), Pause, Play. It serves calls on a
// thread of its own, so a caller may block on it from the main thread.
class FakeMprisPlayer {
public:
    // `suffix` completes the bus name "org.mpris.MediaPlayer2.<suffix>".
    explicit FakeMprisPlayer(QString suffix);
    ~FakeMprisPlayer();
    FakeMprisPlayer(const FakeMprisPlayer &) = delete;
    FakeMprisPlayer &operator=(const FakeMprisPlayer &) = delete;

    // Connects to the bus, exports the player and takes its name. False with errorString() set.
    bool start(const QString &busAddress, const QString &status);
    // Releases the name and leaves the bus, as a player that quits.
    void stop();
    QString errorString() const { return m_service.errorString(); }
    QString busName() const { return m_busName; }

    QString status() const;
    void setStatus(const QString &status);
    int pauseCount() const { return m_pauses.load(); }
    int playCount() const { return m_plays.load(); }

private:
    friend class FakeMprisHandler;
    QString m_busName;
    BusServiceHost m_service;
    std::atomic<int> m_pauses{0};
    std::atomic<int> m_plays{0};
};

// The exported object; lives on the player's thread.
class FakeMprisHandler : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)

public:
    explicit FakeMprisHandler(FakeMprisPlayer &player) : m_player(player) {}
    QString playbackStatus() const;
    void setPlaybackStatus(const QString &status);

public slots:
    void Pause();
    void Play();

private:
    FakeMprisPlayer &m_player;
    mutable QMutex m_mutex;
    QString m_status;
};

} // namespace zq::test
