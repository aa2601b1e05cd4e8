#pragma once

#include "platform/MicrophonePermission.h"

#include <optional>

namespace zq::test {

// A permission the test sets. A request is counted and, unless the test holds the answer back,
// answered at once with `answerToRequests` (which also becomes the status, as after a real
// prompt).
class FakeMicrophonePermission final : public platform::MicrophonePermission {
public:
    platform::MicrophoneAuthorization status = platform::MicrophoneAuthorization::authorized;
    // What the user answers a prompt; none: no answer yet (the status stays).
    std::optional<bool> answerToRequests;

    platform::MicrophoneAuthorization authorizationStatus() override { return status; }
    void requestAccess(std::function<void(bool granted)> completion) override;

    int requestCount() const { return m_requests; }

private:
    int m_requests = 0;
};

} // namespace zq::test
