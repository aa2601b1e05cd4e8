#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace zq::platform {

// How the display server's keyboard reaches the application: the logical key code (pipeline/TriggerKey.h)
// of every X key code, found by where each key sits on the keyboard, as the global trigger sees them.
struct KeyboardMap {
    std::array<std::int64_t, 256> logicalCodes{};
    // Whether some key code gives the Fn key (few keyboards pass Fn to the display server at all).
    bool hasFnKey = false;

    std::int64_t logicalCode(std::uint32_t xKeyCode) const
    {
        return xKeyCode < logicalCodes.size() ? logicalCodes[xKeyCode] : 0x1000 + std::int64_t(xKeyCode);
    }
};

// What dictation needs of the desktop session, checked rather than granted: on this desktop nothing asks
// the user for permission, so each check says whether the session can do it at all.
// - microphone: the audio server answers and lists at least one input source;
// - key listening ("Input Monitoring" in onboarding): global key listening works (an X11 display with XInput 2.1 raw
// events);
// - accessibility: synthetic paste works (the XTest extension);
// - the keyboard map: whether the Fn key reaches the desktop, and the keys the recorder translates.
//
// Threads: every method is called on the main thread and returns quickly; none opens an audio device
// except requestMicrophone(), which does it off the main thread.
class PermissionProbe {
public:
    struct Check {
        bool granted = false;
        // When the session cannot give it at all (a pure Wayland session, an extension missing): one
        // plain sentence that says why. Empty while it is granted or could still be.
        QString unavailableReason;
    };

    virtual ~PermissionProbe() = default;

    // Lists the input sources without opening one.
    virtual bool microphoneAvailable() = 0;
    // Opens the default input once, briefly, on a thread of its own, and reports whether audio arrived.
    // `completion` runs once, on any thread.
    virtual void requestMicrophone(std::function<void(bool heard)> completion) = 0;

    virtual Check keyListening() = 0;
    // Asks the session for global key listening, where it has a way to ask.
    virtual void requestKeyListening() = 0;
    // Shows the user where listening is allowed; false when the session has no such place.
    virtual bool openKeyListeningSettings() = 0;

    virtual Check accessibility() = 0;
    // Asks the session for synthetic input, where it has a way to ask.
    virtual void requestAccessibility() = 0;

    // None without an X11 display.
    virtual std::optional<KeyboardMap> keyboardMap() = 0;

    // Whether the desktop's keyboard settings can be opened (GNOME, KDE or Xfce, installed).
    virtual bool canOpenKeyboardSettings() = 0;
    virtual bool openKeyboardSettings() = 0;
};

} // namespace zq::platform
