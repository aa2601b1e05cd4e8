#include "support/FakeMicrophonePermission.h"

namespace zq::test {

void FakeMicrophonePermission::requestAccess(std::function<void(bool granted)> completion)
{
    ++m_requests;
    if (!answerToRequests)
        return;
    status =
        *answerToRequests ? platform::MicrophoneAuthorization::authorized : platform::MicrophoneAuthorization::denied;
    if (completion)
        completion(*answerToRequests);
}

} // namespace zq::test
