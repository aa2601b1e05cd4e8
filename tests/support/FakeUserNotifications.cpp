#include "support/FakeUserNotifications.h"

#include <utility>

namespace zq::test {

void FakeUserNotifications::requestAuthorization(std::function<void(bool granted)> completion)
{
    ++m_requests;
    if (deferAuthorization) {
        m_pending.push_back(std::move(completion));
        return;
    }
    if (completion)
        completion(granted);
}

void FakeUserNotifications::add(const QString &identifier, const platform::UserNotificationContent &content)
{
    m_posted.push_back({identifier, content});
}

void FakeUserNotifications::answerPending()
{
    auto pending = std::exchange(m_pending, {});
    for (auto &completion : pending) {
        if (completion)
            completion(granted);
    }
}

} // namespace zq::test
