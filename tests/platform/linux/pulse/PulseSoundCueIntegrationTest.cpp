#include "pipeline/SettingsDefaults.h"
#include "pipeline/SoundCuePlayer.h"
#include "platform/linux/pulse/PulseAudioPlayer.h"
#include "platform/linux/pulse/PulseOutputVolume.h"
#include "runtime/Settings.h"
#include "support/Polling.h"
#include "support/PulseServer.h"
#include "support/ServiceEnvironment.h"

#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

using namespace zq;
using namespace zq::test;
using namespace std::chrono_literals;

namespace {

constexpr int kRateHz = 48000;
constexpr int kThreshold = 2; // above the resampler's rounding dust of one step

// The speaker's monitor as a 48 kHz mono recorder, started and known to deliver.
class MonitorRecorder {
public:
    bool start(const PulseServer &server)
    {
        ChildSpec spec;
        spec.program = QStringLiteral("parec");
        spec.arguments = {QStringLiteral("--device=zq_speaker.monitor"),
                          QStringLiteral("--format=s16le"),
                          QStringLiteral("--rate=48000"),
                          QStringLiteral("--channels=1"),
                          QStringLiteral("--raw"),
                          QStringLiteral("--latency-msec=20")};
        spec.environment = server.clientEnvironment();
        spec.standardOutput = ChildStream::Pipe;
        if (!m_parec.start(spec))
            return false;
        // A first stretch proves the recorder runs before anything is played.
        return record(300ms).size() == std::size_t(kRateHz * 3 / 10);
    }
    std::vector<int16_t> record(std::chrono::milliseconds duration)
    {
        const qsizetype wanted = qsizetype(duration.count()) * kRateHz / 1000 * 2;
        const QByteArray pcm = m_parec.readBytes(ChildProcess::Channel::StandardOutput, wanted, QDeadlineTimer(10s));
        std::vector<int16_t> samples(std::size_t(pcm.size() / 2));
        std::memcpy(samples.data(), pcm.constData(), samples.size() * 2);
        return samples;
    }

private:
    ChildProcess m_parec;
};

// First and last sample at or above the threshold; none when everything is quieter.
std::optional<std::pair<std::size_t, std::size_t>> audibleSpan(const std::vector<int16_t> &samples)
{
    const auto loud = [](int16_t s) { return std::abs(int(s)) >= kThreshold; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    if (first == samples.end())
        return std::nullopt;
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud);
    return std::pair{std::size_t(first - samples.begin()), std::size_t(samples.rend() - last - 1)};
}

// A private sound server whose speaker's monitor is being recorded, and default settings.
class PulseSoundCue : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZQ_REQUIRE_SERVICE(server.start(), server.errorString());
        ZQ_REQUIRE_SERVICE(recorder.start(server), QStringLiteral("parec could not record the speaker's monitor"));
        registerDefaults(settings);
    }

    PulseServer server;
    MonitorRecorder recorder;
    rt::Settings settings{QString()};
};

} // namespace

TEST_F(PulseSoundCue, APlayedCueArrivesAtTheSpeakerWithItsLength)
{
    platform::PulseAudioPlayerFactory factory(server.serverAddress());
    SoundCuePlayer player(settings, factory);
    player.play(SoundCue::listening);
    const std::vector<int16_t> recorded = recorder.record(2500ms);

    std::vector<int16_t> expected;
    for (float sample : SoundCuePlayer::renderSamples(cueSpec(SoundCue::listening)))
        expected.push_back(SoundCuePlayer::pcm16(sample));
    const auto expectedSpan = audibleSpan(expected);
    const auto recordedSpan = audibleSpan(recorded);
    ASSERT_TRUE(expectedSpan && recordedSpan) << "the cue was not heard";
    const double expectedSeconds = double(expectedSpan->second - expectedSpan->first) / kRateHz;
    const double recordedSeconds = double(recordedSpan->second - recordedSpan->first) / kRateHz;
    EXPECT_GT(expectedSeconds, 0.3);
    EXPECT_NEAR(recordedSeconds, expectedSeconds, 0.03) << "rendered span " << expectedSeconds;
    int peak = 0;
    for (int16_t s : recorded)
        peak = std::max(peak, std::abs(int(s)));
    EXPECT_NEAR(peak, 0.45 * 0.1 * 32767, 0.45 * 0.1 * 32767 * 0.6) << "about the cue's own level";
}

TEST_F(PulseSoundCue, ReplayRestartsAndTheSettingSilencesCues)
{
    settings.setValue(keys::soundCues, false);
    platform::PulseAudioPlayerFactory factory(server.serverAddress());
    SoundCuePlayer player(settings, factory);
    player.play(SoundCue::captured);
    EXPECT_FALSE(audibleSpan(recorder.record(1500ms)).has_value()) << "soundCues false plays nothing";

    // The replay comes while the first cue still plays. Both spans are read off the recording
    // afterwards, so a loaded machine moves only the gap between the two plays, which is measured.
    settings.setValue(keys::soundCues, true);
    const auto firstPlay = std::chrono::steady_clock::now();
    player.play(SoundCue::captured);
    std::this_thread::sleep_for(200ms);
    const std::chrono::duration<double> gap = std::chrono::steady_clock::now() - firstPlay;
    player.play(SoundCue::captured);
    const std::vector<int16_t> recorded = recorder.record(2000ms);
    std::vector<int16_t> single;
    for (float sample : SoundCuePlayer::renderSamples(cueSpec(SoundCue::captured)))
        single.push_back(SoundCuePlayer::pcm16(sample));
    const auto singleSpan = audibleSpan(single);
    const auto span = audibleSpan(recorded);
    ASSERT_TRUE(span && singleSpan);
    const double cueSeconds = double(singleSpan->second - singleSpan->first) / kRateHz;
    const double seconds = double(span->second - span->first) / kRateHz;
    ASSERT_GT(cueSeconds, 0.3) << "the replay must come while the first cue plays";
    // The replay ran its full length after the first cue began (an ignored replay leaves one cue)...
    EXPECT_GT(seconds, cueSeconds + 0.05) << "replayed " << gap.count() << " s after the first play";
    // ...and cut the first one short instead of waiting for its end; a second stream may start up
    // a little later than the first on a loaded machine.
    EXPECT_LT(seconds, cueSeconds + gap.count() + 0.12) << "replayed " << gap.count() << " s after the first play";
}

TEST(PulseOutputVolume, OurCueStreamsAreNotOtherAudio)
{
    PulseServer server;
    ZQ_REQUIRE_SERVICE(server.start(), server.errorString());
    platform::PulseOutputVolume volume(server.serverAddress());
    const std::optional<platform::OutputDeviceId> device = volume.defaultOutputDevice();
    ASSERT_TRUE(device.has_value());
    EXPECT_EQ(volume.isRunning(*device), false);

    platform::PulseAudioPlayerFactory factory(server.serverAddress());
    auto player = factory.makePlayer(*SoundCuePlayer::wavData(cueSpec(SoundCue::listening)));
    ASSERT_TRUE(player.hasValue());
    ASSERT_TRUE(player.value()->play());
    const QDeadlineTimer deadline(kLoadedMachineTimeout);
    bool streamSeen = false;
    while (!deadline.hasExpired() && !streamSeen) {
        streamSeen = !server.pactl(QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs"))
                          .standardOutput.trimmed()
                          .isEmpty();
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(streamSeen) << "the cue's stream reached the server";
    EXPECT_EQ(volume.isRunning(*device), false) << "our own cue plays";

    ChildProcess other;
    ChildSpec spec;
    spec.program = QStringLiteral("sh");
    spec.arguments = {QStringLiteral("-c"), QStringLiteral("exec pacat --playback --raw < /dev/zero")};
    spec.environment = server.clientEnvironment();
    ASSERT_TRUE(other.start(spec)) << other.errorString().toStdString();
    const QDeadlineTimer otherDeadline(kLoadedMachineTimeout);
    bool running = false;
    while (!otherDeadline.hasExpired() && !(running = volume.isRunning(*device).value_or(false)))
        std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(running) << "another program playing counts";
}
