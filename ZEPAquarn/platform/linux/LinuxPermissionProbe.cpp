#include "platform/linux/LinuxPermissionProbe.h"

#include "pipeline/TriggerKey.h"
#include "platform/AudioHardware.h"
#include "platform/linux/x11/X11Connection.h"
#include "platform/linux/x11/X11KeyboardMap.h"
#include "runtime/Log.h"
#include "runtime/SerialQueue.h"

#include <QProcess>
#include <QStandardPaths>

#include <condition_variable>
#include <mutex>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

namespace zq::platform {

namespace {

// How long the microphone check listens for the first sound.
constexpr std::chrono::milliseconds kListenFor{5000};

bool queryXInput21(Display *display)
{
    int opcode = 0;
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error))
        return false;
    int major = 2;
    int minor = 1;
    return XIQueryVersion(display, &major, &minor) == Success && (major > 2 || (major == 2 && minor >= 1));
}

bool queryXTest(Display *display)
{
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    return XTestQueryExtension(display, &event, &error, &major, &minor) == True;
}

// Opens the default input, waits for the first cycle that carries samples, and closes it again.
bool listenOnce(AudioHardware &hardware)
{
    rt::Result<std::unique_ptr<RecordStream>> made = hardware.makeRecordStream();
    if (!made) {
        qCInfo(lcAudio) << "microphone check: no input unit:" << made.error().message;
        return false;
    }
    RecordStream &unit = *made.value();
    // The server's default input, as the user's desktop has chosen it.
    const std::optional<AudioDeviceId> device = hardware.defaultInputDevice();
    if (!device || *device == 0 || !unit.setCurrentDevice(*device)) {
        qCInfo(lcAudio) << "microphone check: there is no default input";
        return false;
    }
    const std::optional<AudioFormat> format = unit.inputFormat();
    if (!format || !format->isValid()) {
        qCInfo(lcAudio) << "microphone check: the default input has no format";
        return false;
    }
    const AudioFormat client{format->sampleRate, 1, AudioFormat::CommonFormat::float32, false};

    std::mutex mutex;
    std::condition_variable arrived;
    bool heard = false;
    const auto failed = [](const rt::Result<void> &result) { return !result; };
    if (failed(unit.setIOEnabled(RecordStream::IOScope::input, true)) ||
        failed(unit.setIOEnabled(RecordStream::IOScope::output, false)) || failed(unit.setClientFormat(client)) ||
        failed(unit.setInputCallback([&](const CaptureCycle &cycle) {
            if (cycle.frames > 0) {
                std::lock_guard lock(mutex);
                heard = true;
                arrived.notify_all();
            }
            return 0;
        })) ||
        failed(unit.initialize())) {
        qCInfo(lcAudio) << "microphone check: the default input cannot be set up";
        return false;
    }
    if (failed(unit.start())) {
        qCInfo(lcAudio) << "microphone check: the default input does not start";
        (void)unit.uninitialize();
        return false;
    }
    bool result = false;
    {
        std::unique_lock lock(mutex);
        result = arrived.wait_for(lock, kListenFor, [&] { return heard; });
    }
    (void)unit.stop();
    (void)unit.uninitialize();
    qCInfo(lcAudio) << "microphone check:" << (result ? "audio arrived" : "no audio arrived");
    return result;
}

} // namespace

LinuxPermissionProbe::LinuxPermissionProbe(AudioHardware &hardware, QByteArray displayName)
    : m_hardware(hardware), m_displayName(std::move(displayName))
{}

LinuxPermissionProbe::~LinuxPermissionProbe()
{
    // A check in progress ends within its listening time; its completion still runs.
    if (m_micQueue)
        m_micQueue->drain();
}

bool LinuxPermissionProbe::microphoneAvailable()
{
    const std::optional<std::vector<AudioDeviceId>> sources = m_hardware.devices();
    return sources && !sources->empty();
}

void LinuxPermissionProbe::requestMicrophone(std::function<void(bool heard)> completion)
{
    // The check's thread starts with the first check; most launches never make one.
    if (!m_micQueue)
        m_micQueue = std::make_unique<rt::SerialQueue>(QStringLiteral("io.quorvane.zepaquarn.mic-check"));
    m_micQueue->post([&hardware = m_hardware, completion = std::move(completion)] {
        const bool heard = listenOnce(hardware);
        if (completion)
            completion(heard);
    });
}

X11Connection *LinuxPermissionProbe::connection()
{
    if (m_connection && !m_connection->isBroken())
        return m_connection.get();
    m_connection.reset();
    if (m_displayName.isEmpty()) {
        m_displayProblem = qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
                               ? QStringLiteral("This is a Wayland session without X11, which dictation needs.")
                               : QStringLiteral("There is no X11 display, which dictation needs.");
        return nullptr;
    }
    QString why;
    m_connection = X11Connection::open(m_displayName, &why);
    if (!m_connection) {
        m_displayProblem = QStringLiteral("The X11 display cannot be reached.");
        return nullptr;
    }
    m_displayProblem.clear();
    m_hasXInput21 = queryXInput21(m_connection->display());
    m_hasXTest = queryXTest(m_connection->display());
    return m_connection.get();
}

PermissionProbe::Check LinuxPermissionProbe::keyListening()
{
    if (!connection())
        return {false, m_displayProblem};
    if (!m_hasXInput21)
        return {false, QStringLiteral("The X server lacks XInput 2.1, which the trigger key needs.")};
    return {true, {}};
}

void LinuxPermissionProbe::requestKeyListening()
{
    qCInfo(lcApp) << "onboarding: X11 grants global key listening to every client; nothing to ask";
}

bool LinuxPermissionProbe::openKeyListeningSettings()
{
    return false;
}

PermissionProbe::Check LinuxPermissionProbe::accessibility()
{
    if (!connection())
        return {false, m_displayProblem};
    if (!m_hasXTest)
        return {false, QStringLiteral("The X server lacks the XTest extension, which pasting needs.")};
    return {true, {}};
}

void LinuxPermissionProbe::requestAccessibility()
{
    qCInfo(lcApp) << "onboarding: X11 grants synthetic input to every client; nothing to ask";
}

std::optional<KeyboardMap> LinuxPermissionProbe::keyboardMap()
{
    X11Connection *x = connection();
    if (!x)
        return std::nullopt;
    KeyboardMap map = x11::readKeyboardMap(x->display());
    if (x->isBroken())
        return std::nullopt;
    return map;
}

std::optional<QStringList>
LinuxPermissionProbe::keyboardSettingsCommand(const QString &currentDesktop,
                                              const std::function<bool(const QString &)> &isInstalled)
{
    const QStringList desktops = currentDesktop.toLower().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    const struct {
        const char *desktop;
        QStringList command;
    } known[] = {
        {"gnome", {QStringLiteral("gnome-control-center"), QStringLiteral("keyboard")}},
        {"kde", {QStringLiteral("systemsettings"), QStringLiteral("kcm_keyboard")}},
        {"kde", {QStringLiteral("kcmshell6"), QStringLiteral("kcm_keyboard")}},
        {"kde", {QStringLiteral("kcmshell5"), QStringLiteral("kcm_keyboard")}},
        {"xfce", {QStringLiteral("xfce4-keyboard-settings")}},
    };
    for (const QString &desktop : desktops) {
        for (const auto &entry : known) {
            if (desktop == QLatin1String(entry.desktop) && isInstalled(entry.command.front()))
                return entry.command;
        }
    }
    return std::nullopt;
}

namespace {

std::optional<QStringList> installedKeyboardSettings()
{
    return LinuxPermissionProbe::keyboardSettingsCommand(
        qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
        [](const QString &program) { return !QStandardPaths::findExecutable(program).isEmpty(); });
}

} // namespace

bool LinuxPermissionProbe::canOpenKeyboardSettings()
{
    return installedKeyboardSettings().has_value();
}

bool LinuxPermissionProbe::openKeyboardSettings()
{
    const std::optional<QStringList> command = installedKeyboardSettings();
    if (!command)
        return false;
    return QProcess::startDetached(command->front(), command->mid(1));
}

} // namespace zq::platform
