#pragma once

#include "platform/UpdateFramework.h"
#include "rewards/updates/UpdateAvailability.h"
#include "rewards/updates/UpdateReminder.h"
#include "rewards/updates/UpdateState.h"

#include <QDateTime>
#include <QObject>

#include <functional>
#include <memory>

namespace zq {

// When the update framework begins its schedule: at once, or held until the updater's start() (a
// first launch holds it until the Welcome window is done).
enum class UpdaterStart { now, held };

// The application's one update service. It starts the update framework, turns the framework's news
// into one published AppUpdateState, mirrors the framework's two automatic-update preferences,
// remembers a found update across launches and reminds the user of it. Main thread only.
class Updater : public QObject, private platform::UpdaterDelegate {
    Q_OBJECT
public:
    Updater(UpdateAvailabilityStore availability, UpdateReminder reminder,
            std::unique_ptr<platform::UpdateFramework> framework, std::function<QDateTime()> now,
            UpdaterStart start = UpdaterStart::now, QObject *parent = nullptr);
    ~Updater() override;

    const AppUpdateState &state() const { return m_state; }
    bool isChecking() const { return m_state.kind == AppUpdateState::Kind::checking; }
    bool automaticallyChecksEnabled() const { return m_automaticallyChecksEnabled; }
    bool automaticallyDownloadsUpdates() const { return m_automaticallyDownloadsUpdates; }
    // The status line of the current state, as the tray panel and the Support page show it.
    QString statusText() const
    {
        return m_state.statusText(m_automaticallyChecksEnabled, m_now(), m_framework->feedUrl().host());
    }

    // Begins the framework's schedule of automatic checks; once.
    void start();
    bool isStarted() const { return m_started; }
    // The user asks for a check now; a held framework starts first.
    void checkForUpdates();
    void setAutomaticallyChecksEnabled(bool enabled);
    void setAutomaticallyDownloadsUpdates(bool enabled);

    const UpdateAvailabilityStore &availability() const { return m_availability; }
    platform::UpdateFramework &framework() { return *m_framework; }

signals:
    // Emitted on every assignment of the state, also when it is unchanged.
    void stateChanged();
    void automaticallyChecksEnabledChanged(bool enabled);
    void automaticallyDownloadsUpdatesChanged(bool enabled);

private:
    void didFindValidUpdate(const platform::AppcastItem &item) override;
    void didNotFindUpdate() override;
    void userDidMakeChoice(platform::UpdateChoice choice, const platform::AppcastItem &item) override;
    void willInstallUpdate(const platform::AppcastItem &item) override;
    void didFinishUpdateCycle(platform::UpdateCheckKind kind, const std::optional<QString> &error) override;
    void willScheduleUpdateCheckAfterDelay(std::chrono::seconds delay) override;
    void willNotScheduleUpdateCheck() override;

    void finishCycle(bool failed);
    void setState(AppUpdateState state);
    void readPreferences();
    void storeAutomaticallyChecks(bool enabled);
    void storeAutomaticallyDownloads(bool enabled);

    AppUpdateState m_state;
    bool m_started = false;
    bool m_automaticallyChecksEnabled = false;
    bool m_automaticallyDownloadsUpdates = false;
    UpdateAvailabilityStore m_availability;
    UpdateReminder m_reminder;
    bool m_cycleResolvedByUser = false;
    // What the state was before a user check turned it to checking, for a cycle that ends with
    // neither an answer nor an error (the user cancelled their own check).
    AppUpdateState m_stateBeforeCheck;
    std::unique_ptr<platform::UpdateFramework> m_framework;
    std::function<QDateTime()> m_now;
};

} // namespace zq
