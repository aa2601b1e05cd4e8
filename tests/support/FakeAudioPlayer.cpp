#include "support/FakeAudioPlayer.h"

#include <algorithm>

namespace zq::test {

class FakeAudioPlayer final : public platform::AudioPlayer {
public:
    FakeAudioPlayer(FakeAudioPlayerFactory &factory, int index) : m_factory(factory), m_index(index) {}

    bool prepareToPlay() override
    {
        m_factory.record({m_index, FakePlayerEvent::Kind::prepared, 0});
        return true;
    }
    void setCurrentTime(double seconds) override
    {
        m_factory.record({m_index, FakePlayerEvent::Kind::seeked, seconds});
    }
    bool play() override
    {
        m_factory.record({m_index, FakePlayerEvent::Kind::played, 0});
        return true;
    }

private:
    FakeAudioPlayerFactory &m_factory;
    int m_index;
};

rt::Result<std::unique_ptr<platform::AudioPlayer>> FakeAudioPlayerFactory::makePlayer(const QByteArray &wavData)
{
    std::lock_guard lock(m_mutex);
    const int request = int(m_requests.size());
    m_requests.push_back(wavData);
    if (m_failAll || std::find(m_failing.begin(), m_failing.end(), request) != m_failing.end())
        return rt::makeError(QStringLiteral("the fake refuses this sound"));
    return std::unique_ptr<platform::AudioPlayer>(std::make_unique<FakeAudioPlayer>(*this, m_players++));
}

void FakeAudioPlayerFactory::failRequest(int index)
{
    std::lock_guard lock(m_mutex);
    m_failing.push_back(index);
}

void FakeAudioPlayerFactory::setFailAll(bool fail)
{
    std::lock_guard lock(m_mutex);
    m_failAll = fail;
}

std::vector<QByteArray> FakeAudioPlayerFactory::requestedData() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int FakeAudioPlayerFactory::playerCount() const
{
    std::lock_guard lock(m_mutex);
    return m_players;
}

std::vector<FakePlayerEvent> FakeAudioPlayerFactory::events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

int FakeAudioPlayerFactory::playCount(int player) const
{
    std::lock_guard lock(m_mutex);
    return int(std::count_if(m_events.begin(), m_events.end(), [player](const FakePlayerEvent &e) {
        return e.player == player && e.kind == FakePlayerEvent::Kind::played;
    }));
}

void FakeAudioPlayerFactory::record(FakePlayerEvent event)
{
    std::lock_guard lock(m_mutex);
    m_events.push_back(event);
}

} // namespace zq::test
