#include "app/LazyUpdateUserDriver.h"

namespace zq {

LazyUpdateUserDriver::LazyUpdateUserDriver(Factory make) : m_make(std::move(make)) {}

platform::UpdateUserDriver &LazyUpdateUserDriver::driver()
{
    if (!m_driver)
        m_driver = m_make();
    return *m_driver;
}

void LazyUpdateUserDriver::showUserInitiatedCheck(std::function<void()> cancel)
{
    driver().showUserInitiatedCheck(std::move(cancel));
}

void LazyUpdateUserDriver::showUpdateNotFound()
{
    driver().showUpdateNotFound();
}

void LazyUpdateUserDriver::showUpdateFound(const platform::AppcastItem &item,
                                           std::function<void(platform::UpdateChoice)> reply)
{
    driver().showUpdateFound(item, std::move(reply));
}

void LazyUpdateUserDriver::showDownloadProgress(qint64 receivedBytes, qint64 expectedBytes,
                                                std::function<void()> cancel)
{
    driver().showDownloadProgress(receivedBytes, expectedBytes, std::move(cancel));
}

void LazyUpdateUserDriver::showInstalling()
{
    driver().showInstalling();
}

void LazyUpdateUserDriver::showError(const QString &message)
{
    driver().showError(message);
}

void LazyUpdateUserDriver::showInformation(const QString &message)
{
    driver().showInformation(message);
}

void LazyUpdateUserDriver::dismiss()
{
    // Nothing shown yet: nothing to take down.
    if (m_driver)
        m_driver->dismiss();
}

} // namespace zq
