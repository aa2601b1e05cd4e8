#pragma once

#include "platform/UserNotifications.h"

#include <vector>

namespace zq::test {

// Records authorization requests and posted notifications. Authorization is answered with
// `granted`, at once, unless `deferAuthorization` is set (then answerPending() answers).
class FakeUserNotifications final : public platform::UserNotifications {
public:
    struct Posted {
        QString identifier;
        platform::UserNotificationContent content;
    };

    bool granted = true;
    bool deferAuthorization = false;

    void requestAuthorization(std::function<void(bool granted)> completion) override;
    void add(const QString &identifier, const platform::UserNotificationContent &content) override;
    void remove(const QString &identifier) override { m_removed.push_back(identifier); }

    // Answers every deferred request with `granted`.
    void answerPending();

    int authorizationRequests() const { return m_requests; }
    const std::vector<Posted> &posted() const { return m_posted; }
    const std::vector<QString> &removed() const { return m_removed; }

private:
    int m_requests = 0;
    std::vector<std::function<void(bool)>> m_pending;
    std::vector<Posted> m_posted;
    std::vector<QString> m_removed;
};

} // namespace zq::test
