#pragma once

#include "platform/PermissionProbe.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace zq::rt {
class SerialQueue;
} // namespace zq::rt

namespace zq::platform {

class AudioHardware;
class X11Connection;

// The checks on a Linux desktop: the audio server's input sources, the X server's XInput 2.1 and XTest
// extensions and its keyboard map, and the desktop's keyboard settings program. Nothing on X11 is
// granted per application, so a check that fails here cannot be granted by asking: it says why.
//
// Main thread only; the X connection is opened when first needed and again after it broke, the
// microphone check's thread with the first check.
class LinuxPermissionProbe final : public PermissionProbe {
public:
    // `hardware` outlives the probe. `displayName` ":N"; by default the DISPLAY of the environment.
    explicit LinuxPermissionProbe(AudioHardware &hardware, QByteArray displayName = qgetenv("DISPLAY"));
    ~LinuxPermissionProbe() override;

    bool microphoneAvailable() override;
    void requestMicrophone(std::function<void(bool heard)> completion) override;
    Check keyListening() override;
    // X11 asks nobody: these find nothing to ask or open.
    void requestKeyListening() override;
    bool openKeyListeningSettings() override;
    Check accessibility() override;
    void requestAccessibility() override;
    std::optional<KeyboardMap> keyboardMap() override;
    bool canOpenKeyboardSettings() override;
    bool openKeyboardSettings() override;

    // The program and arguments that open the keyboard settings of the desktop named by
    // XDG_CURRENT_DESKTOP (GNOME, KDE, Xfce), among those `isInstalled` finds; none for others.
    static std::optional<QStringList> keyboardSettingsCommand(const QString &currentDesktop,
                                                              const std::function<bool(const QString &)> &isInstalled);

private:
    // The connection, opened or reopened when needed; null with `m_displayProblem` set.
    X11Connection *connection();

    AudioHardware &m_hardware;
    const QByteArray m_displayName;
    std::unique_ptr<X11Connection> m_connection;
    bool m_hasXInput21 = false;
    bool m_hasXTest = false;
    QString m_displayProblem;
    std::unique_ptr<rt::SerialQueue> m_micQueue;
};

} // namespace zq::platform
