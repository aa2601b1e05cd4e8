#pragma once

#include <QString>

#include <vector>

namespace zq::platform {

enum class PlaybackStatus { playing, paused, stopped };

// A media player on the desktop that can be remote-controlled.
struct MediaPlayer {
    // The name the player is known by (stable across the player's restarts).
    QString name;
    // This very instance of the player: differs after the player quit and started again.
    QString instance;
    PlaybackStatus status = PlaybackStatus::stopped;

    friend bool operator==(const MediaPlayer &, const MediaPlayer &) = default;
};

// The media players of the user's session and their playback.
//
// Calls are synchronous and meant for the main thread; each is bounded by a short timeout, and
// players are asked in parallel, so a hung player costs at most one timeout. Without a session
// bus the list is empty. A player that does not answer, or whose status is not one of the three,
// is left out. pause() and play() address the exact instance: a player that quit meanwhile is
// not touched, and the call returns false.
class MediaPlayers {
public:
    virtual ~MediaPlayers() = default;

    virtual std::vector<MediaPlayer> players() = 0;
    virtual bool pause(const MediaPlayer &player) = 0;
    virtual bool play(const MediaPlayer &player) = 0;
};

} // namespace zq::platform
