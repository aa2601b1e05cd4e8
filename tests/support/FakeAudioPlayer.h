#pragma once

#include "platform/AudioPlayer.h"

#include <QByteArray>

#include <memory>
#include <mutex>
#include <vector>

namespace zq::test {

// What the fake players were asked to do, in order, across all players of one factory.
struct FakePlayerEvent {
    enum class Kind { prepared, seeked, played };
    int player = 0; // index of the player in the order it was made
    Kind kind = Kind::played;
    double seconds = 0; // for seeked
};

// A player factory that records every call. It can refuse to make players (all, or the n-th).
// Thread-safe: players are driven from the cue queue while the test reads.
class FakeAudioPlayerFactory final : public platform::AudioPlayerFactory {
public:
    rt::Result<std::unique_ptr<platform::AudioPlayer>> makePlayer(const QByteArray &wavData) override;

    // Makes every request with this index (0-based, in request order) fail.
    void failRequest(int index);
    void setFailAll(bool fail);

    std::vector<QByteArray> requestedData() const;
    int playerCount() const;
    std::vector<FakePlayerEvent> events() const;
    int playCount(int player) const;

private:
    friend class FakeAudioPlayer;
    void record(FakePlayerEvent event);

    mutable std::mutex m_mutex;
    std::vector<QByteArray> m_requests;
    std::vector<int> m_failing;
    bool m_failAll = false;
    int m_players = 0;
    std::vector<FakePlayerEvent> m_events;
};

} // namespace zq::test
