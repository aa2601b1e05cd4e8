#pragma once

#include "platform/MicrophonePermission.h"

namespace zq::platform {

// A desktop session grants the microphone to the user, not per application: the permission
// always reads as authorized and a request is answered yes. An audio server that cannot be
// reached, or has no input, makes the capture's start fail instead.
class DesktopMicrophonePermission final : public MicrophonePermission {
public:
    MicrophoneAuthorization authorizationStatus() override { return MicrophoneAuthorization::authorized; }
    void requestAccess(std::function<void(bool granted)> completion) override;
};

} // namespace zq::platform
