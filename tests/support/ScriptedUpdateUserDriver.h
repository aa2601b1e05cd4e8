#pragma once

#include "platform/UpdateFramework.h"

#include <QStringList>

#include <optional>

namespace zq::test {

// Records what the update framework shows and answers an offer with a scripted choice (at once),
// or keeps it for the test to answer. Cancel callbacks are kept so a test can play the user.
class ScriptedUpdateUserDriver final : public platform::UpdateUserDriver {
public:
    // The answer given to the next offers; none keeps the reply for answerOffer().
    std::optional<platform::UpdateChoice> choice;

    void showUserInitiatedCheck(std::function<void()> cancel) override;
    void showUpdateNotFound() override { m_shown << QStringLiteral("up-to-date"); }
    void showUpdateFound(const platform::AppcastItem &item, std::function<void(platform::UpdateChoice)> reply) override;
    void showDownloadProgress(qint64 receivedBytes, qint64 expectedBytes, std::function<void()> cancel) override;
    void showInstalling() override { m_shown << QStringLiteral("installing"); }
    void showError(const QString &message) override;
    void showInformation(const QString &message) override;
    void dismiss() override { m_shown << QStringLiteral("dismiss"); }

    // "checking", "up-to-date", "offer", "download", "installing", "error", "information", "dismiss",
    // in order; download progress counts once per download.
    const QStringList &shown() const { return m_shown; }
    const QStringList &messages() const { return m_messages; }
    const std::optional<platform::AppcastItem> &offered() const { return m_offered; }
    qint64 lastReceivedBytes() const { return m_received; }

    void answerOffer(platform::UpdateChoice choice);
    // Plays the user pressing Cancel on what shows now.
    void cancel();

private:
    QStringList m_shown;
    QStringList m_messages;
    std::optional<platform::AppcastItem> m_offered;
    std::function<void(platform::UpdateChoice)> m_reply;
    std::function<void()> m_cancel;
    qint64 m_received = 0;
};

} // namespace zq::test
