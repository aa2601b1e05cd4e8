#pragma once

#include "runtime/Result.h"

#include <QByteArray>

#include <memory>

namespace zq::platform {

// One short sound held in memory, played on the default output.
//
// A player is made from a complete WAV file, prepared once and then played many times. It is
// used from one thread at a time (in practice a serial queue); playing never blocks for the length
// of the sound. Playing while the sound is still audible cuts it off and starts it again from the
// current time, so the user never hears two copies on top of each other.
// Failures are reported as false and never thrown; a player whose output is gone stays silent.
class AudioPlayer {
public:
    virtual ~AudioPlayer() = default;

    // Gets the output ready so that play() starts with the least delay. False when it cannot.
    virtual bool prepareToPlay() = 0;
    // Where the next play() starts, in seconds from the beginning (clamped to the sound).
    virtual void setCurrentTime(double seconds) = 0;
    // Starts the sound (restarting it when it still plays). False when it could not be started.
    virtual bool play() = 0;
};

// Makes players. Safe to call from any thread.
class AudioPlayerFactory {
public:
    virtual ~AudioPlayerFactory() = default;

    // Decodes `wavData` (a whole WAV file). An error when the bytes are not a playable sound.
    virtual rt::Result<std::unique_ptr<AudioPlayer>> makePlayer(const QByteArray &wavData) = 0;
};

} // namespace zq::platform
