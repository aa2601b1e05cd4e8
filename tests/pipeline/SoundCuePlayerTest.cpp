#include "pipeline/SoundCuePlayer.h"
#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"
#include "support/FakeAudioPlayer.h"
#include "support/VirtualLoop.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace zq;
using namespace zq::test;

namespace {

constexpr double kRate = 48000;

double peakOf(const std::vector<float> &samples, std::size_t from = 0, std::size_t to = SIZE_MAX)
{
    double peak = 0;
    for (std::size_t i = from; i < std::min(to, samples.size()); ++i)
        peak = std::max(peak, double(std::abs(samples[i])));
    return peak;
}

std::uint32_t u32At(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<std::uint32_t>(bytes.constData() + offset);
}

std::uint16_t u16At(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<std::uint16_t>(bytes.constData() + offset);
}

} // namespace

TEST(SoundCueRendering, LengthsFollowTheVoicesAndTheEchoTail)
{
    // Each sum is evaluated in the stated order; a reordering changes the last sample.
    const double listeningEnd = ((0.025 + 0.012) + 0.22) + 0.05;
    const double capturedEnd = ((0.0 + 0.004) + 0.2) + 0.05;
    const auto listening = SoundCuePlayer::renderSamples(cueSpec(SoundCue::listening));
    const auto captured = SoundCuePlayer::renderSamples(cueSpec(SoundCue::captured));
    EXPECT_EQ(listening.size(), std::size_t(std::ceil(((listeningEnd + 0.13 * 6) + 0.05) * kRate)));
    EXPECT_EQ(captured.size(), std::size_t(std::ceil(((capturedEnd + 0.09 * 6) + 0.05) * kRate)));
    EXPECT_NEAR(listening.size() / kRate, 1.14, 0.01);
    EXPECT_NEAR(captured.size() / kRate, 0.84, 0.01);

    CueSpec dry = cueSpec(SoundCue::captured);
    dry.dryOnly = true;
    const auto drySamples = SoundCuePlayer::renderSamples(dry);
    ASSERT_EQ(drySamples.size(), std::size_t(std::ceil((capturedEnd + 0.05) * kRate)));
    // The voice runs until attack + decay + 0.05; after that a dry cue is silent.
    const auto voiceEnd = std::size_t(std::floor((0.004 + 0.2 + 0.05) * kRate));
    EXPECT_EQ(peakOf(drySamples, voiceEnd), 0.0);

    CueSpec silent;
    silent.dryOnly = true;
    EXPECT_EQ(SoundCuePlayer::renderSamples(silent).size(), std::size_t(std::ceil(0.05 * kRate)))
        << "no voices still gives the padding";
}

TEST(SoundCueRendering, EnvelopeRisesToTheLevelAndFallsToTheFloor)
{
    // A single dry tone with unit gain, so samples are sin × envelope.
    CueSpec spec;
    spec.dryOnly = true;
    spec.voices = {CueTone{1000, std::nullopt, std::nullopt, 0.0, 0.01, 0.1, 0.5}};
    const auto samples = SoundCuePlayer::renderSamples(spec);
    auto windowPeak = [&](double t) {
        const auto centre = std::size_t(t * kRate);
        return peakOf(samples, centre - 24, centre + 24); // one 1 kHz period
    };
    EXPECT_NEAR(windowPeak(0.01), 0.5, 0.02) << "the attack ends at the level";
    // Halfway through the decay the level has fallen by half of its way to the floor (in dB).
    EXPECT_NEAR(windowPeak(0.06), std::sqrt(0.5 * 0.0001), 0.001);
    EXPECT_LT(windowPeak(0.005), 0.5 * 0.05) << "halfway through the attack: sqrt(level × floor)";
    EXPECT_LE(windowPeak(0.13), 0.0001 + 1e-9) << "after the decay the envelope stays at the floor";
    EXPECT_GT(windowPeak(0.13), 0.00005);
}

TEST(SoundCueRendering, CuesPeakWithinRangeAndEchoAfterTheDrySound)
{
    const auto captured = SoundCuePlayer::renderSamples(cueSpec(SoundCue::captured));
    CueSpec drySpec = cueSpec(SoundCue::captured);
    drySpec.dryOnly = true;
    const auto dry = SoundCuePlayer::renderSamples(drySpec);
    std::vector<float> echo(dry.size());
    for (std::size_t i = 0; i < dry.size(); ++i)
        echo[i] = captured[i] - dry[i];

    // The sweep peaks at level × gain.
    EXPECT_NEAR(peakOf(dry), 0.075 * 0.55, 0.003);
    const std::size_t delay = 4320; // 0.09 s
    EXPECT_EQ(peakOf(echo, 0, delay), 0.0) << "nothing is echoed before one delay";
    // The first repeat: the dry peak through the echo's low-pass, at the echo mix.
    EXPECT_NEAR(peakOf(echo, delay, delay + 480), 0.15 * 0.075 * 0.55, 0.002);
    const auto dryEnd = dry.size();
    EXPECT_GT(peakOf(captured, dryEnd), 0.0001) << "the echo carries on after the dry sound";
    EXPECT_LT(peakOf(captured, captured.size() - 480), 0.0001) << "and has died down at the end";

    const auto listening = SoundCuePlayer::renderSamples(cueSpec(SoundCue::listening));
    EXPECT_GT(peakOf(listening), 0.02);
    EXPECT_LT(peakOf(listening), 0.45 * (0.1 + 0.05 + 0.035) * 1.5) << "never louder than the voices allow";
    // The noise burst comes first; the tones start at 25 ms.
    EXPECT_GT(peakOf(listening, 0, std::size_t(0.02 * kRate)), 0.001);
}

TEST(SoundCueRendering, RenderingIsDeterministic)
{
    for (SoundCue cue : kAllSoundCues) {
        const auto first = SoundCuePlayer::wavData(cueSpec(cue));
        const auto second = SoundCuePlayer::wavData(cueSpec(cue));
        ASSERT_TRUE(first && second);
        EXPECT_EQ(*first, *second);
    }
}

TEST(SoundCueRendering, UnbuildableDescriptionsYieldNoSound)
{
    CueSpec endless;
    endless.voices = {CueTone{440, std::nullopt, std::nullopt, 0.0, 0.01, 1e12, 0.1}};
    EXPECT_TRUE(SoundCuePlayer::renderSamples(endless).empty());
    EXPECT_FALSE(SoundCuePlayer::wavData(endless).has_value());

    CueSpec broken;
    broken.voices = {CueNoise{NoiseFilter::lowPass, 1000, 0, std::nan(""), 0.01, 0.01, 0.1}};
    EXPECT_FALSE(SoundCuePlayer::wavData(broken).has_value());
}

TEST(SoundCueWav, HeaderAndSamples)
{
    const auto samples = SoundCuePlayer::renderSamples(cueSpec(SoundCue::captured));
    const auto wav = SoundCuePlayer::wavData(cueSpec(SoundCue::captured));
    ASSERT_TRUE(wav.has_value());
    const auto dataBytes = std::uint32_t(samples.size() * 2);
    ASSERT_EQ(wav->size(), qsizetype(44 + dataBytes));
    EXPECT_EQ(wav->left(4), "RIFF");
    EXPECT_EQ(u32At(*wav, 4), dataBytes + 36);
    EXPECT_EQ(wav->mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32At(*wav, 16), 16u);
    EXPECT_EQ(u16At(*wav, 20), 1u);
    EXPECT_EQ(u16At(*wav, 22), 1u);
    EXPECT_EQ(u32At(*wav, 24), 48000u);
    EXPECT_EQ(u32At(*wav, 28), 96000u);
    EXPECT_EQ(u16At(*wav, 32), 2u);
    EXPECT_EQ(u16At(*wav, 34), 16u);
    EXPECT_EQ(wav->mid(36, 4), "data");
    EXPECT_EQ(u32At(*wav, 40), dataBytes);
    for (std::size_t i : {std::size_t(0), std::size_t(100), samples.size() / 3, samples.size() - 1})
        EXPECT_EQ(qint16(u16At(*wav, int(44 + 2 * i))), SoundCuePlayer::pcm16(samples[i])) << "sample " << i;
}

TEST(SoundCueWav, SamplesAreClampedAndTruncated)
{
    EXPECT_EQ(SoundCuePlayer::pcm16(-1.0f), -32767);
    EXPECT_EQ(SoundCuePlayer::pcm16(-3.0f), -32767) << "never -32768";
    EXPECT_EQ(SoundCuePlayer::pcm16(1.5f), 32767);
    EXPECT_EQ(SoundCuePlayer::pcm16(0.99999f), 32766) << "truncated toward zero";
    EXPECT_EQ(SoundCuePlayer::pcm16(-0.5f), -16383);
    EXPECT_EQ(SoundCuePlayer::pcm16(std::nanf("")), 0);
}

namespace {

// Runs the player's queue on a virtual loop the test drives, and counts what was queued.
class CountingQueue final : public rt::Executor {
public:
    explicit CountingQueue(VirtualLoop &loop, int &posts) : m_loop(loop), m_posts(posts) {}
    void post(Function fn) override
    {
        ++m_posts;
        m_loop.post(std::move(fn));
    }
    rt::WorkItem postDelayed(rt::Nanos delay, Function fn) override
    {
        ++m_posts;
        return m_loop.postDelayed(delay, std::move(fn));
    }
    rt::Nanos now() const override { return m_loop.now(); }
    bool isCurrent() const override { return m_loop.isCurrent(); }

private:
    VirtualLoop &m_loop;
    int &m_posts;
};

class SoundCuePlayerTest : public ::testing::Test {
protected:
    SoundCuePlayerTest() { registerDefaults(settings); }

    std::unique_ptr<SoundCuePlayer> makePlayer()
    {
        return std::make_unique<SoundCuePlayer>(settings, factory, std::make_unique<CountingQueue>(loop, posts));
    }

    rt::Settings settings{QString()};
    FakeAudioPlayerFactory factory;
    VirtualLoop loop;
    int posts = 0;
};

} // namespace

TEST_F(SoundCuePlayerTest, PreparesBothCuesOnceInOrder)
{
    auto player = makePlayer();
    EXPECT_EQ(factory.playerCount(), 0) << "preparation runs on the queue, not in the constructor";
    loop.runUntilIdle();
    const auto requests = factory.requestedData();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], *SoundCuePlayer::wavData(cueSpec(SoundCue::listening)));
    EXPECT_EQ(requests[1], *SoundCuePlayer::wavData(cueSpec(SoundCue::captured)));
    const auto events = factory.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, FakePlayerEvent::Kind::prepared);
    EXPECT_EQ(events[1].kind, FakePlayerEvent::Kind::prepared);
}

TEST_F(SoundCuePlayerTest, PlayRewindsAndRestartsTheCue)
{
    auto player = makePlayer();
    // Asked before preparation ran: the queue is serial, so it still finds its player.
    player->play(SoundCue::listening);
    player->play(SoundCue::listening);
    player->play(SoundCue::captured);
    loop.runUntilIdle();
    EXPECT_EQ(factory.playCount(0), 2);
    EXPECT_EQ(factory.playCount(1), 1);
    const auto events = factory.events();
    ASSERT_EQ(events.size(), 8u);
    for (std::size_t i : {2u, 4u, 6u}) {
        EXPECT_EQ(events[i].kind, FakePlayerEvent::Kind::seeked);
        EXPECT_EQ(events[i].seconds, 0.0);
        EXPECT_EQ(events[i + 1].kind, FakePlayerEvent::Kind::played);
    }
}

TEST_F(SoundCuePlayerTest, SettingOffQueuesNothingAndIsReadAtEveryCue)
{
    auto player = makePlayer();
    loop.runUntilIdle();
    const int afterPreparation = posts;
    settings.setValue(keys::soundCues, false);
    player->play(SoundCue::listening);
    EXPECT_EQ(posts, afterPreparation) << "no playback is queued at all";
    settings.setValue(keys::soundCues, true);
    player->play(SoundCue::listening);
    loop.runUntilIdle();
    EXPECT_EQ(factory.playCount(0), 1);
}

TEST_F(SoundCuePlayerTest, ACueWhosePlayerCannotBeMadeIsSkipped)
{
    factory.failRequest(0);
    auto player = makePlayer();
    player->play(SoundCue::listening);
    player->play(SoundCue::captured);
    loop.runUntilIdle();
    ASSERT_EQ(factory.playerCount(), 1);
    EXPECT_EQ(factory.playCount(0), 1) << "the captured cue, the only player made, still plays";
}

TEST(SoundCuePlayerQueue, RealQueueFinishesQueuedWorkBeforeDestruction)
{
    rt::Settings settings{QString()};
    registerDefaults(settings);
    FakeAudioPlayerFactory factory;
    {
        SoundCuePlayer player(settings, factory);
        player.play(SoundCue::captured);
    }
    EXPECT_EQ(factory.playerCount(), 2);
    EXPECT_EQ(factory.playCount(1), 1);
}
