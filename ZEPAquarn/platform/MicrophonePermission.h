#pragma once

#include <functional>

namespace zq::platform {

// Whether this application may record from the microphone.
enum class MicrophoneAuthorization { notDetermined, restricted, denied, authorized };

// The session's microphone permission for this application.
//
// Main thread only. authorizationStatus() answers at once from what the session already knows
// and never prompts. requestAccess() asks the user when the session has such a prompt and
// returns at once; the answer arrives later through `completion`, on any thread (it may be
// empty). A desktop session without per-application grants reads as authorized: whether a
// microphone can really be opened shows up when the capture starts.
class MicrophonePermission {
public:
    virtual ~MicrophonePermission() = default;

    virtual MicrophoneAuthorization authorizationStatus() = 0;
    virtual void requestAccess(std::function<void(bool granted)> completion) = 0;
};

} // namespace zq::platform
