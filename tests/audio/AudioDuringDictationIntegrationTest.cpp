#include "audio/AudioDuringDictationController.h"
#include "audio/AudioDuringDictationSystemBackend.h"
#include "platform/linux/freedesktop/MprisMediaPlayers.h"
#include "platform/linux/pulse/PulseOutputVolume.h"
#include "support/DBusSession.h"
#include "support/FakeMediaPlayers.h"
#include "support/FakeOutputVolume.h"
#include "support/PulseServer.h"
#include "support/ServiceEnvironment.h"
#include "support/VirtualLoop.h"

#include <QRegularExpression>
#include <QUuid>

#include <gtest/gtest.h>

#include <cmath>

using namespace zq;
using namespace zq::test;
using namespace std::chrono_literals;
using Mode = AudioDuringDictationMode;

namespace {

// The speaker's volume as pactl reports it, 1.0 for 100 %.
std::optional<double> speakerVolume(const PulseServer &server)
{
    const ToolResult result = server.pactl(QStringLiteral("get-sink-volume"), QLatin1String(PulseServer::kSpeaker));
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral(":\\s*(\\d+)\\s*/")).match(QString::fromUtf8(result.standardOutput));
    if (!result.succeeded() || !match.hasMatch())
        return std::nullopt;
    return match.captured(1).toDouble() / 65536.0;
}

bool setSpeakerVolume(const PulseServer &server, const QString &percent)
{
    return server.pactl(QStringLiteral("set-sink-volume"), QLatin1String(PulseServer::kSpeaker), percent).succeeded();
}

// A client connection of its own to a private bus, closed at the end.
class BusClient {
public:
    explicit BusClient(const QString &address)
        : m_name(QStringLiteral("zq-mpris-client-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
          m_connection(QDBusConnection::connectToBus(address, m_name))
    {}
    ~BusClient() { QDBusConnection::disconnectFromBus(m_name); }
    QDBusConnection connection() const { return m_connection; }

private:
    QString m_name;
    QDBusConnection m_connection;
};

} // namespace

TEST(AudioDuringDictationOnPulse, SinkVolumeFollowsTheRampDownAndBack)
{
    PulseServer server;
    ZQ_REQUIRE_SERVICE(server.start(), server.errorString());
    ASSERT_TRUE(setSpeakerVolume(server, QStringLiteral("80%")));

    VirtualLoop loop;
    platform::PulseOutputVolume volume(server.serverAddress());
    FakeMediaPlayers players;
    AudioDuringDictationController controller(
        std::make_unique<AudioDuringDictationSystemBackend>(loop, volume, players));

    controller.begin(Mode::lowerVolume);
    ASSERT_EQ(controller.activeMode(), Mode::lowerVolume);
    loop.advance(90ms);
    EXPECT_NEAR(*speakerVolume(server), rampLevel(0.8f, 0.16f, 6), 0.001) << "halfway down";
    loop.advance(90ms);
    EXPECT_NEAR(*speakerVolume(server), 0.16, 0.001);

    controller.finish();
    loop.advance(120ms);
    EXPECT_NEAR(*speakerVolume(server), rampLevel(0.16f, 0.8f, 6), 0.001) << "halfway back";
    loop.advance(120ms);
    EXPECT_NEAR(*speakerVolume(server), 0.8, 0.001);

    // The user turns the volume up during the next take: it stays where they put it.
    controller.begin(Mode::lowerVolume);
    loop.advance(180ms);
    ASSERT_TRUE(setSpeakerVolume(server, QStringLiteral("50%")));
    controller.finish();
    loop.advance(1s);
    EXPECT_NEAR(*speakerVolume(server), 0.5, 0.001);

    // Quitting mid-take puts the volume back at once.
    controller.begin(Mode::lowerVolume);
    loop.advance(180ms);
    EXPECT_NEAR(*speakerVolume(server), 0.1, 0.001);
    controller.end();
    EXPECT_NEAR(*speakerVolume(server), 0.5, 0.001);
}

TEST(AudioDuringDictationOnPulse, NoServerMeansNoEffect)
{
    VirtualLoop loop;
    platform::PulseOutputVolume volume(QStringLiteral("unix:/nonexistent/zq-no-server"));
    FakeMediaPlayers players;
    AudioDuringDictationController controller(
        std::make_unique<AudioDuringDictationSystemBackend>(loop, volume, players));
    controller.begin(Mode::lowerVolume);
    EXPECT_FALSE(controller.activeMode().has_value());
    controller.finish();
    controller.end();
}

TEST(AudioDuringDictationOnMpris, PausesThePlayingPlayerAndLeavesThePausedOneAlone)
{
    DBusSession bus;
    ZQ_REQUIRE_SERVICE(bus.start(), bus.errorString());
    FakeMprisPlayer playing(QStringLiteral("zqplaying"));
    FakeMprisPlayer paused(QStringLiteral("zqpaused"));
    ASSERT_TRUE(playing.start(bus.address(), QStringLiteral("Playing"))) << playing.errorString().toStdString();
    ASSERT_TRUE(paused.start(bus.address(), QStringLiteral("Paused"))) << paused.errorString().toStdString();

    BusClient client(bus.address());
    platform::MprisMediaPlayers mpris(client.connection());
    const std::vector<platform::MediaPlayer> found = mpris.players();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, paused.busName());
    EXPECT_EQ(found[0].status, platform::PlaybackStatus::paused);
    EXPECT_EQ(found[1].name, playing.busName());
    EXPECT_EQ(found[1].status, platform::PlaybackStatus::playing);
    EXPECT_TRUE(found[1].instance.startsWith(QLatin1Char(':')));

    VirtualLoop loop;
    FakeOutputVolume volume;
    AudioDuringDictationController controller(std::make_unique<AudioDuringDictationSystemBackend>(loop, volume, mpris));
    controller.begin(Mode::pausePlayback);
    EXPECT_EQ(controller.activeMode(), Mode::pausePlayback);
    EXPECT_EQ(playing.status(), "Paused");
    EXPECT_EQ(paused.pauseCount(), 0);

    controller.finish();
    EXPECT_EQ(playing.status(), "Playing");
    EXPECT_EQ(playing.playCount(), 1);
    EXPECT_EQ(paused.status(), "Paused") << "a paused player is never started";
    EXPECT_EQ(paused.playCount(), 0);

    // The user resumes during the take: nothing more is sent at its end.
    controller.begin(Mode::pausePlayback);
    playing.setStatus(QStringLiteral("Playing"));
    controller.finish();
    EXPECT_EQ(playing.playCount(), 1);

    // The player quits during the take: it is not looked for, and nothing fails.
    controller.begin(Mode::pausePlayback);
    playing.stop();
    controller.finish();
    EXPECT_EQ(mpris.players().size(), 1u);
}
