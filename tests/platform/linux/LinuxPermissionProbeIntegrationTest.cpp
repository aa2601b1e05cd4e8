// The session checks of the first-run window against a private X display and sound server.
#include "pipeline/TriggerKey.h"
#include "platform/linux/LinuxPermissionProbe.h"
#include "platform/linux/pulse/PulseAudioHardware.h"

#include "support/Polling.h"
#include "support/PulseServer.h"
#include "support/ServiceEnvironment.h"

#include <QDir>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>

#include <X11/Xlib.h>

using namespace zq;
using namespace zq::test;
using namespace std::chrono_literals;
using platform::LinuxPermissionProbe;

namespace {

// Asks for the microphone and waits for the answer (it comes from the probe's own thread).
std::optional<bool> listen(LinuxPermissionProbe &probe)
{
    auto answer = std::make_shared<std::atomic<int>>(-1);
    probe.requestMicrophone([answer](bool heard) { answer->store(heard ? 1 : 0); });
    if (!waitFor([&] { return answer->load() >= 0; }, 10s))
        return std::nullopt;
    return answer->load() == 1;
}

class LinuxPermissionProbeTest : public ::testing::Test {
protected:
    bool startPulse(const PulseDevices &devices)
    {
        const bool started = pulse.start(devices);
        return requireService(started, pulse.errorString());
    }

    PulseServer pulse;
};

TEST_F(LinuxPermissionProbeTest, TheMicrophoneCountsWhenTheServerListsAnInputAndIsHeardOnlyWhenAudioArrives)
{
    PulseDevices devices;
    devices.defaultSource = QString::fromLatin1(PulseServer::kUsbMicrophone);
    if (!startPulse(devices))
        return;
    platform::PulseAudioHardware hardware(pulse.serverAddress());
    LinuxPermissionProbe probe(hardware);
    EXPECT_TRUE(probe.microphoneAvailable());
    // The remapped monitor of the null sink delivers (silent) audio as a microphone does.
    EXPECT_EQ(listen(probe), std::optional<bool>(true));

    // A microphone that opens but never delivers a sample is not heard.
    ASSERT_TRUE(pulse.setDefaultSource(QString::fromLatin1(PulseServer::kPipeMicrophone)));
    EXPECT_EQ(listen(probe), std::optional<bool>(false));
}

TEST_F(LinuxPermissionProbeTest, AServerWithoutInputsOrNoServerAtAllGivesNoMicrophone)
{
    PulseDevices devices;
    devices.pipeMicrophone = devices.usbMicrophone = devices.bluetoothMicrophone = devices.builtInMicrophone = false;
    if (!startPulse(devices))
        return;
    {
        platform::PulseAudioHardware hardware(pulse.serverAddress());
        LinuxPermissionProbe probe(hardware);
        EXPECT_FALSE(probe.microphoneAvailable()) << "the speaker's monitor is no microphone";
        EXPECT_EQ(listen(probe), std::optional<bool>(false));
    }
    pulse.stop();
    platform::PulseAudioHardware gone(QStringLiteral("unix:/nonexistent/zq/native"));
    LinuxPermissionProbe probe(gone);
    EXPECT_FALSE(probe.microphoneAvailable());
    EXPECT_EQ(listen(probe), std::optional<bool>(false));
}

TEST_F(LinuxPermissionProbeTest, AnX11DisplayGivesKeyListeningAndPasteAndReadsTheKeyboardByPosition)
{
    ZQ_REQUIRE_SERVICE(!sharedDisplay().isEmpty(), sharedDisplayError());
    const auto threads = [] { return QDir(QStringLiteral("/proc/self/task")).count(); };
    const auto threadsBefore = threads();
    platform::PulseAudioHardware hardware(QStringLiteral("unix:/nonexistent/zq/native"));
    LinuxPermissionProbe probe(hardware, sharedDisplay().toLocal8Bit());
    EXPECT_EQ(threads(), threadsBefore) << "made before the tray icon: nothing may start yet";
    EXPECT_TRUE(probe.keyListening().granted);
    EXPECT_TRUE(probe.keyListening().unavailableReason.isEmpty());
    EXPECT_TRUE(probe.accessibility().granted);

    const std::optional<platform::KeyboardMap> map = probe.keyboardMap();
    ASSERT_TRUE(map);
    Display *display = XOpenDisplay(sharedDisplay().toLocal8Bit().constData());
    ASSERT_NE(display, nullptr);
    const auto xCode = [&](const char *name) { return XKeysymToKeycode(display, XStringToKeysym(name)); };
    EXPECT_EQ(map->logicalCode(xCode("F5")), 96);
    EXPECT_EQ(map->logicalCode(xCode("Shift_L")), KeyCode::leftShift);
    EXPECT_EQ(map->logicalCode(xCode("Shift_R")), KeyCode::rightShift);
    EXPECT_EQ(map->logicalCode(xCode("space")), 49);

    // The Fn key reaches the desktop once some key code gives XF86Fn, and the next look sees it.
    const bool hadFn = map->hasFnKey;
    int minCode = 0;
    int maxCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    int perCode = 0;
    KeySym *before = XGetKeyboardMapping(display, ::KeyCode(maxCode), 1, &perCode);
    const KeySym saved = before ? before[0] : NoSymbol;
    if (before)
        XFree(before);
    KeySym fn = 0x10081000 + 0x1D0;
    XChangeKeyboardMapping(display, maxCode, 1, &fn, 1);
    XSync(display, False);
    std::optional<platform::KeyboardMap> withFn;
    const bool sawFn = waitFor(
        [&] {
            withFn = probe.keyboardMap();
            return withFn && withFn->hasFnKey;
        },
        5s);
    KeySym restore = saved;
    XChangeKeyboardMapping(display, maxCode, 1, &restore, 1);
    XSync(display, False);
    XCloseDisplay(display);
    EXPECT_FALSE(hadFn) << "the test display has no Fn key of its own";
    ASSERT_TRUE(sawFn);
    EXPECT_EQ(withFn->logicalCode(unsigned(maxCode)), KeyCode::function);
    EXPECT_FALSE(probe.keyboardMap()->hasFnKey) << "and loses it again";
}

TEST_F(LinuxPermissionProbeTest, WithoutAReachableDisplayEachCheckSaysWhyInsteadOfOfferingAGrant)
{
    platform::PulseAudioHardware hardware(QStringLiteral("unix:/nonexistent/zq/native"));
    LinuxPermissionProbe unreachable(hardware, QByteArrayLiteral(":4999"));
    EXPECT_FALSE(unreachable.keyListening().granted);
    EXPECT_EQ(unreachable.keyListening().unavailableReason, QStringLiteral("The X11 display cannot be reached."));
    EXPECT_FALSE(unreachable.accessibility().unavailableReason.isEmpty());
    EXPECT_FALSE(unreachable.keyboardMap());
    EXPECT_FALSE(unreachable.openKeyListeningSettings());

    qputenv("WAYLAND_DISPLAY", "wayland-zq-test");
    LinuxPermissionProbe wayland(hardware, QByteArray());
    const QString reason = wayland.keyListening().unavailableReason;
    qunsetenv("WAYLAND_DISPLAY");
    EXPECT_EQ(reason, QStringLiteral("This is a Wayland session without X11, which dictation needs."));
}

TEST(LinuxPermissionProbeCommandTest, TheKeyboardSettingsAreTheCurrentDesktopsOwnWhenInstalled)
{
    const auto installed = [](QStringList programs) {
        return [programs](const QString &program) { return programs.contains(program); };
    };
    const QStringList all{QStringLiteral("gnome-control-center"), QStringLiteral("systemsettings"),
                          QStringLiteral("kcmshell5"), QStringLiteral("xfce4-keyboard-settings")};
    EXPECT_EQ(LinuxPermissionProbe::keyboardSettingsCommand(QStringLiteral("ubuntu:GNOME"), installed(all)),
              (QStringList{QStringLiteral("gnome-control-center"), QStringLiteral("keyboard")}));
    EXPECT_EQ(
        LinuxPermissionProbe::keyboardSettingsCommand(QStringLiteral("KDE"), installed({QStringLiteral("kcmshell5")})),
        (QStringList{QStringLiteral("kcmshell5"), QStringLiteral("kcm_keyboard")}));
    EXPECT_EQ(LinuxPermissionProbe::keyboardSettingsCommand(QStringLiteral("XFCE"), installed(all)),
              (QStringList{QStringLiteral("xfce4-keyboard-settings")}));
    EXPECT_FALSE(LinuxPermissionProbe::keyboardSettingsCommand(QStringLiteral("GNOME"), installed({})));
    EXPECT_FALSE(LinuxPermissionProbe::keyboardSettingsCommand(QStringLiteral("i3"), installed(all)));
    EXPECT_FALSE(LinuxPermissionProbe::keyboardSettingsCommand(QString(), installed(all)));
}

} // namespace
