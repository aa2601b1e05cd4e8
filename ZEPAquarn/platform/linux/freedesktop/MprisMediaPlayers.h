#pragma once

#include "platform/MediaPlayers.h"

#include <QDBusConnection>

#include <chrono>

namespace zq::platform {

// The media players on the session bus that offer the common remote-control interface
// (bus names "org.mpris.MediaPlayer2.*"). A player's instance is the unique connection name
// that owns its bus name, and pause()/play() are sent to that connection only.
class MprisMediaPlayers final : public MediaPlayers {
public:
    explicit MprisMediaPlayers(QDBusConnection bus = QDBusConnection::sessionBus(),
                               std::chrono::milliseconds timeout = std::chrono::milliseconds(300));

    std::vector<MediaPlayer> players() override;
    bool pause(const MediaPlayer &player) override;
    bool play(const MediaPlayer &player) override;

private:
    bool call(const MediaPlayer &player, const QString &method);

    QDBusConnection m_bus;
    int m_timeoutMs;
};

} // namespace zq::platform
