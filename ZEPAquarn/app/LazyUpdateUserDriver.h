#pragma once

#include "platform/UpdateFramework.h"

#include <functional>
#include <memory>

namespace zq {

// The update framework's windows, made the first time the framework shows something: most runs
// never show one, and building them costs the launch a window's worth of widgets. Dismissing
// before anything was shown makes nothing. Main thread only.
class LazyUpdateUserDriver final : public platform::UpdateUserDriver {
public:
    using Factory = std::function<std::unique_ptr<platform::UpdateUserDriver>()>;

    explicit LazyUpdateUserDriver(Factory make);

    void showUserInitiatedCheck(std::function<void()> cancel) override;
    void showUpdateNotFound() override;
    void showUpdateFound(const platform::AppcastItem &item, std::function<void(platform::UpdateChoice)> reply) override;
    void showDownloadProgress(qint64 receivedBytes, qint64 expectedBytes, std::function<void()> cancel) override;
    void showInstalling() override;
    void showError(const QString &message) override;
    void showInformation(const QString &message) override;
    void dismiss() override;

    // The windows, once made; null before.
    platform::UpdateUserDriver *made() const { return m_driver.get(); }

private:
    platform::UpdateUserDriver &driver();

    Factory m_make;
    std::unique_ptr<platform::UpdateUserDriver> m_driver;
};

} // namespace zq
