#include "support/ScriptedUpdateUserDriver.h"

namespace zq::test {

void ScriptedUpdateUserDriver::showUserInitiatedCheck(std::function<void()> cancel)
{
    m_shown << QStringLiteral("checking");
    m_cancel = std::move(cancel);
}

void ScriptedUpdateUserDriver::showUpdateFound(const platform::AppcastItem &item,
                                               std::function<void(platform::UpdateChoice)> reply)
{
    m_shown << QStringLiteral("offer");
    m_offered = item;
    m_cancel = nullptr;
    m_reply = std::move(reply);
    if (choice)
        answerOffer(*choice);
}

void ScriptedUpdateUserDriver::showDownloadProgress(qint64 receivedBytes, qint64, std::function<void()> cancel)
{
    if (m_shown.isEmpty() || m_shown.last() != QStringLiteral("download"))
        m_shown << QStringLiteral("download");
    m_received = receivedBytes;
    m_cancel = std::move(cancel);
}

void ScriptedUpdateUserDriver::showError(const QString &message)
{
    m_shown << QStringLiteral("error");
    m_messages << message;
}

void ScriptedUpdateUserDriver::showInformation(const QString &message)
{
    m_shown << QStringLiteral("information");
    m_messages << message;
}

void ScriptedUpdateUserDriver::answerOffer(platform::UpdateChoice answer)
{
    if (auto reply = std::exchange(m_reply, nullptr))
        reply(answer);
}

void ScriptedUpdateUserDriver::cancel()
{
    if (auto cancel = std::exchange(m_cancel, nullptr))
        cancel();
}

} // namespace zq::test
