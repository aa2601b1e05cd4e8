#include "audio/AudioDuringDictationController.h"
#include "audio/AudioDuringDictationSystemBackend.h"
#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"
#include "support/FakeMediaPlayers.h"
#include "support/FakeOutputVolume.h"
#include "support/VirtualLoop.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace zq;
using namespace zq::test;
using namespace std::chrono_literals;
using platform::PlaybackStatus;
using Mode = AudioDuringDictationMode;

namespace {

class AudioDuringDictationTest : public ::testing::Test {
protected:
    AudioDuringDictationTest()
    {
        auto system = std::make_unique<AudioDuringDictationSystemBackend>(loop, volume, players);
        backend = system.get();
        controller = std::make_unique<AudioDuringDictationController>(std::move(system));
    }

    VirtualLoop loop;
    FakeOutputVolume volume;
    FakeMediaPlayers players;
    AudioDuringDictationSystemBackend *backend = nullptr;
    std::unique_ptr<AudioDuringDictationController> controller;
};

} // namespace

TEST(AudioDuringDictationMode, RawValuesAndTheSetting)
{
    EXPECT_EQ(rawValue(Mode::unchanged), "unchanged");
    EXPECT_EQ(rawValue(Mode::lowerVolume), "lower-volume");
    EXPECT_EQ(rawValue(Mode::pausePlayback), "pause-playback");
    for (Mode mode : kAllAudioDuringDictationModes)
        EXPECT_EQ(fromRawValue<AudioDuringDictationMode>(rawValue(mode)), mode);
    EXPECT_FALSE(fromRawValue<AudioDuringDictationMode>(u"Lower-Volume").has_value());

    rt::Settings settings{QString()};
    EXPECT_EQ(readAudioDuringDictationMode(settings), Mode::unchanged) << "missing";
    registerDefaults(settings);
    EXPECT_EQ(readAudioDuringDictationMode(settings), Mode::lowerVolume) << "the registered default";
    settings.setValue(keys::audioDuringDictation, QStringLiteral("mute-everything"));
    EXPECT_EQ(readAudioDuringDictationMode(settings), Mode::unchanged) << "unknown";
    settings.setValue(keys::audioDuringDictation, QStringLiteral("pause-playback"));
    EXPECT_EQ(readAudioDuringDictationMode(settings), Mode::pausePlayback);
}

TEST_F(AudioDuringDictationTest, VolumeControlsAreTheMainVolumeElseEachSettableChannel)
{
    const auto main = volume.addMainVolumeDevice(0.5f);
    EXPECT_EQ(backend->volumeAddresses(main), std::vector<std::uint32_t>{0});
    const auto stereo = volume.addChannelVolumeDevice({0.5f, 0.5f});
    EXPECT_EQ(backend->volumeAddresses(stereo), (std::vector<std::uint32_t>{1, 2}));
    volume.device(stereo).settableChannels = {2};
    EXPECT_EQ(backend->volumeAddresses(stereo), std::vector<std::uint32_t>{2});
    volume.device(stereo).channelCount = 0;
    EXPECT_TRUE(backend->volumeAddresses(stereo).empty());
}

TEST_F(AudioDuringDictationTest, LowersToAFifthAndRestoresOnEasedTwelveStepRamps)
{
    const auto device = volume.addMainVolumeDevice(1.0f);
    controller->begin(Mode::lowerVolume);
    EXPECT_EQ(controller->activeMode(), Mode::lowerVolume);
    loop.runUntilIdle();
    EXPECT_TRUE(volume.writes().empty()) << "each step sleeps first";

    loop.advance(14ms);
    EXPECT_TRUE(volume.writes().empty());
    loop.advance(1ms);
    ASSERT_EQ(volume.writes().size(), 1u) << "15 ms steps";
    loop.advance(165ms);
    ASSERT_EQ(volume.writes().size(), 12u);
    for (int step = 1; step <= 12; ++step)
        EXPECT_FLOAT_EQ(volume.writes()[std::size_t(step - 1)].level, rampLevel(1.0f, 0.2f, step)) << step;
    EXPECT_NEAR(volume.level(device, 0), 0.2f, 1e-6);
    EXPECT_FALSE(backend->isRamping());
    EXPECT_TRUE(backend->volumeSnapshot()) << "kept until restored";

    volume.clearWrites();
    controller->finish();
    EXPECT_FALSE(controller->activeMode().has_value());
    loop.advance(19ms);
    EXPECT_TRUE(volume.writes().empty());
    loop.advance(1ms);
    EXPECT_EQ(volume.writes().size(), 1u) << "20 ms steps";
    loop.advance(220ms);
    ASSERT_EQ(volume.writes().size(), 12u);
    EXPECT_FLOAT_EQ(volume.writes()[5].level, rampLevel(0.2f, 1.0f, 6));
    EXPECT_NEAR(volume.level(device, 0), 1.0f, 1e-6);
    EXPECT_FALSE(backend->volumeSnapshot()) << "a completed restore forgets the snapshot";
}

TEST_F(AudioDuringDictationTest, SilentOutputStaysSilentAndChannelsRampEachFromTheirOwnLevel)
{
    const auto device = volume.addChannelVolumeDevice({0.0f, 0.5f});
    controller->begin(Mode::lowerVolume);
    loop.advance(180ms);
    EXPECT_EQ(volume.level(device, 1), 0.0f);
    EXPECT_NEAR(volume.level(device, 2), 0.1f, 1e-6);
    controller->finish();
    loop.advance(240ms);
    EXPECT_EQ(volume.level(device, 1), 0.0f);
    EXPECT_NEAR(volume.level(device, 2), 0.5f, 1e-6);
}

TEST_F(AudioDuringDictationTest, AVolumeTheUserMovesIsLeftWhereTheUserPutIt)
{
    const auto device = volume.addMainVolumeDevice(0.8f);
    controller->begin(Mode::lowerVolume);
    loop.advance(180ms);
    volume.setLevelExternally(device, 0, 0.7f);
    volume.clearWrites();
    controller->finish();
    loop.advance(1s);
    EXPECT_TRUE(volume.writes().empty());
    EXPECT_EQ(volume.level(device, 0), 0.7f);
    EXPECT_FALSE(backend->volumeSnapshot()) << "a restore with nothing to move forgets the snapshot";

    // Moved in the middle of a ramp: the next step notices and stops there.
    volume.setLevelExternally(device, 0, 1.0f);
    controller->begin(Mode::lowerVolume);
    loop.advance(75ms);
    volume.setLevelExternally(device, 0, 0.9f);
    loop.advance(1s);
    EXPECT_EQ(volume.writes().size(), 5u);
    EXPECT_EQ(volume.level(device, 0), 0.9f);
    ASSERT_TRUE(backend->volumeSnapshot());
    EXPECT_TRUE(backend->volumeSnapshot()->controls[0]->userOverrode);
    controller->end();
    EXPECT_EQ(volume.level(device, 0), 0.9f) << "termination does not undo the user either";

    // Differences under the threshold (the device's own rounding) are not the user.
    volume.clearWrites();
    volume.setWriteQuantum(0.001f);
    controller->begin(Mode::lowerVolume);
    loop.advance(180ms);
    EXPECT_EQ(volume.writes().size(), 12u);
}

TEST_F(AudioDuringDictationTest, ANewTakeDuringTheRestoreLowersAgainAndKeepsTheFirstOriginals)
{
    const auto device = volume.addMainVolumeDevice(0.9f);
    controller->begin(Mode::lowerVolume);
    loop.advance(180ms);
    controller->finish();
    loop.advance(100ms); // five of the twelve restore steps
    const float midway = volume.level(device, 0);
    EXPECT_GT(midway, 0.18f);
    EXPECT_LT(midway, 0.9f);

    volume.clearWrites();
    controller->begin(Mode::lowerVolume);
    EXPECT_EQ(controller->activeMode(), Mode::lowerVolume);
    loop.advance(15ms);
    ASSERT_EQ(volume.writes().size(), 1u) << "the restore ramp was cancelled";
    EXPECT_FLOAT_EQ(volume.writes()[0].level, rampLevel(midway, 0.9f * 0.2f, 1)) << "down from where it was";
    loop.advance(1s);
    EXPECT_NEAR(volume.level(device, 0), 0.18f, 1e-6);
    controller->finish();
    loop.advance(1s);
    EXPECT_NEAR(volume.level(device, 0), 0.9f, 1e-6) << "the level from before the first take";
}

TEST_F(AudioDuringDictationTest, TerminationRestoresAtOnce)
{
    const auto device = volume.addMainVolumeDevice(0.6f);
    controller->begin(Mode::lowerVolume);
    loop.advance(90ms);
    controller->end();
    EXPECT_FALSE(controller->activeMode().has_value());
    EXPECT_NEAR(volume.level(device, 0), 0.6f, 1e-6);
    volume.clearWrites();
    loop.advance(1s);
    EXPECT_TRUE(volume.writes().empty()) << "the cancelled ramp changes nothing more";

    // Quitting while the last take's restore ramp still runs.
    controller->begin(Mode::lowerVolume);
    loop.advance(180ms);
    controller->finish();
    loop.advance(40ms);
    controller->end();
    EXPECT_NEAR(volume.level(device, 0), 0.6f, 1e-6);
    EXPECT_FALSE(backend->volumeSnapshot());
}

TEST_F(AudioDuringDictationTest, NothingToLowerRecordsNoEffect)
{
    controller->begin(Mode::lowerVolume);
    EXPECT_FALSE(controller->activeMode().has_value()) << "no default output";

    const auto loud = volume.addMainVolumeDevice(1.3f);
    controller->begin(Mode::lowerVolume);
    EXPECT_FALSE(controller->activeMode().has_value()) << "a level beyond full is not ours to scale";
    EXPECT_EQ(volume.level(loud, 0), 1.3f);

    volume.addMainVolumeDevice(0.5f);
    volume.setFailReads(true);
    controller->begin(Mode::lowerVolume);
    EXPECT_FALSE(controller->activeMode().has_value());
    controller->finish();
    EXPECT_TRUE(volume.writes().empty());

    controller->begin(Mode::unchanged);
    EXPECT_FALSE(controller->activeMode().has_value());
}

TEST_F(AudioDuringDictationTest, AControlThatCannotBeWrittenIsLeftAlone)
{
    const auto device = volume.addMainVolumeDevice(1.0f);
    volume.setFailWrites(true);
    controller->begin(Mode::lowerVolume);
    loop.advance(1s);
    volume.setFailWrites(false);
    EXPECT_TRUE(backend->volumeSnapshot()->controls[0]->userOverrode);
    controller->finish();
    loop.advance(1s);
    EXPECT_TRUE(volume.writes().empty());
    EXPECT_EQ(volume.level(device, 0), 1.0f);
    // The restore found nothing to move and forgot the snapshot: the next take starts afresh.
    controller->begin(Mode::lowerVolume);
    EXPECT_EQ(controller->activeMode(), Mode::lowerVolume);
}

TEST_F(AudioDuringDictationTest, AnActiveEffectIsNotAppliedTwice)
{
    const auto device = volume.addMainVolumeDevice(1.0f);
    players.add(QStringLiteral("music"), PlaybackStatus::playing);
    controller->begin(Mode::lowerVolume);
    controller->begin(Mode::pausePlayback);
    EXPECT_EQ(controller->activeMode(), Mode::lowerVolume);
    EXPECT_TRUE(players.pauseCalls().empty());
    loop.advance(180ms);
    controller->finish();
    controller->finish();
    loop.advance(1s);
    EXPECT_NEAR(volume.level(device, 0), 1.0f, 1e-6);
}

TEST_F(AudioDuringDictationTest, DestroyedMidRampChangesNothingMore)
{
    volume.addMainVolumeDevice(1.0f);
    controller->begin(Mode::lowerVolume);
    loop.advance(30ms);
    controller.reset();
    volume.clearWrites();
    loop.advance(1s);
    EXPECT_TRUE(volume.writes().empty());
}

TEST_F(AudioDuringDictationTest, PausesExactlyThePlayingPlayersAndResumesExactlyThose)
{
    players.add(QStringLiteral("music"), PlaybackStatus::playing);
    players.add(QStringLiteral("podcast"), PlaybackStatus::paused);
    players.add(QStringLiteral("video"), PlaybackStatus::stopped);
    players.add(QStringLiteral("radio"), PlaybackStatus::playing);

    controller->begin(Mode::pausePlayback);
    EXPECT_EQ(controller->activeMode(), Mode::pausePlayback);
    EXPECT_EQ(players.pauseCalls(), (std::vector<QString>{QStringLiteral("music"), QStringLiteral("radio")}));
    EXPECT_EQ(players.status(QStringLiteral("music")), PlaybackStatus::paused);

    controller->finish();
    EXPECT_EQ(players.playCalls(), (std::vector<QString>{QStringLiteral("music"), QStringLiteral("radio")}));
    EXPECT_EQ(players.status(QStringLiteral("podcast")), PlaybackStatus::paused) << "never started by us";
    EXPECT_EQ(players.status(QStringLiteral("video")), PlaybackStatus::stopped);
    EXPECT_FALSE(controller->activeMode().has_value());
}

TEST_F(AudioDuringDictationTest, PauseWithNothingPlayingDoesNothingAtEitherEnd)
{
    players.add(QStringLiteral("podcast"), PlaybackStatus::paused);
    controller->begin(Mode::pausePlayback);
    EXPECT_FALSE(controller->activeMode().has_value());
    EXPECT_TRUE(players.pauseCalls().empty());
    controller->finish();
    controller->end();
    EXPECT_TRUE(players.playCalls().empty());
    EXPECT_EQ(players.status(QStringLiteral("podcast")), PlaybackStatus::paused);
}

TEST_F(AudioDuringDictationTest, PlayersTheUserTookBackAreLeftAlone)
{
    players.add(QStringLiteral("resumed"), PlaybackStatus::playing);
    players.add(QStringLiteral("stopped"), PlaybackStatus::playing);
    players.add(QStringLiteral("quit"), PlaybackStatus::playing);
    players.add(QStringLiteral("restarted"), PlaybackStatus::playing);
    players.add(QStringLiteral("kept"), PlaybackStatus::playing);
    controller->begin(Mode::pausePlayback);

    players.setStatus(QStringLiteral("resumed"), PlaybackStatus::playing);
    players.setStatus(QStringLiteral("stopped"), PlaybackStatus::stopped);
    players.remove(QStringLiteral("quit"));
    players.remove(QStringLiteral("restarted"));
    players.add(QStringLiteral("restarted"), PlaybackStatus::paused); // a new instance, same name
    controller->finish();
    EXPECT_EQ(players.playCalls(), std::vector<QString>{QStringLiteral("kept")});
    EXPECT_EQ(players.status(QStringLiteral("restarted")), PlaybackStatus::paused);
}

TEST_F(AudioDuringDictationTest, TerminationResumesPausedPlayersAndAFailedPauseIsNoEffect)
{
    players.add(QStringLiteral("music"), PlaybackStatus::playing);
    controller->begin(Mode::pausePlayback);
    controller->end();
    EXPECT_EQ(players.status(QStringLiteral("music")), PlaybackStatus::playing);
    EXPECT_FALSE(controller->activeMode().has_value());

    players.setFailCalls(true);
    controller->begin(Mode::pausePlayback);
    EXPECT_FALSE(controller->activeMode().has_value()) << "a pause that failed paused nothing";
    players.setFailCalls(false);
    controller->finish();
    EXPECT_EQ(players.playCalls().size(), 1u);
}

TEST_F(AudioDuringDictationTest, OutputRunningFollowsTheDefaultDevice)
{
    EXPECT_FALSE(backend->isOutputRunning());
    const auto device = volume.addMainVolumeDevice(1.0f);
    EXPECT_FALSE(backend->isOutputRunning());
    volume.device(device).running = true;
    EXPECT_TRUE(backend->isOutputRunning());
}
