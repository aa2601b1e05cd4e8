#include "rewards/updates/Updater.h"

namespace zq {

using platform::AppcastItem;
using platform::UpdateChoice;

Updater::Updater(UpdateAvailabilityStore availability, UpdateReminder reminder,
                 std::unique_ptr<platform::UpdateFramework> framework, std::function<QDateTime()> now,
                 UpdaterStart start, QObject *parent)
    : QObject(parent), m_availability(std::move(availability)), m_reminder(std::move(reminder)),
      m_framework(std::move(framework)), m_now(std::move(now))
{
    Q_ASSERT(m_framework);
    // A launch with an update still pending shows it at once and may remind.
    if (const auto &pending = m_availability.pending()) {
        const QString version = platform::feedTextForDisplay(pending->displayVersion);
        m_state = AppUpdateState::available(version);
        m_reminder.remindIfNeeded(version);
    }

    if (start == UpdaterStart::now)
        this->start();
    readPreferences();
    // The framework's object is owned here, so the connections end with the updater.
    connect(m_framework.get(), &platform::UpdateFramework::automaticallyChecksForUpdatesChanged, this,
            &Updater::storeAutomaticallyChecks);
    connect(m_framework.get(), &platform::UpdateFramework::automaticallyDownloadsUpdatesChanged, this,
            &Updater::storeAutomaticallyDownloads);
}

Updater::~Updater()
{
    // The framework calls back into this object: it goes first.
    m_framework.reset();
}

void Updater::start()
{
    if (m_started)
        return;
    m_started = true;
    m_framework->start(*this);
}

void Updater::checkForUpdates()
{
    start();
    const bool alreadyChecking = m_state.kind == AppUpdateState::Kind::checking;
    if (m_state.kind != AppUpdateState::Kind::available) {
        if (!alreadyChecking)
            m_stateBeforeCheck = m_state;
        setState(AppUpdateState::checking());
    }
    // A framework that cannot start a check tells nothing more: the line must not stay at
    // "Checking…", so the user is offered a retry. A cycle that already runs is joined, and its
    // end sets the line; a second press during the user's own check leaves it to finish.
    if (!m_framework->checkForUpdates() && m_state.kind == AppUpdateState::Kind::checking && !alreadyChecking)
        setState(AppUpdateState::failed());
}

void Updater::setAutomaticallyChecksEnabled(bool enabled)
{
    m_framework->setAutomaticallyChecksForUpdates(enabled);
    // No downloads without checks.
    if (!enabled)
        m_framework->setAutomaticallyDownloadsUpdates(false);
    readPreferences();
}

void Updater::setAutomaticallyDownloadsUpdates(bool enabled)
{
    // Downloads need checks.
    if (enabled)
        m_framework->setAutomaticallyChecksForUpdates(true);
    m_framework->setAutomaticallyDownloadsUpdates(enabled);
    readPreferences();
}

void Updater::didFindValidUpdate(const AppcastItem &item)
{
    // The state's version is shown in the status line, the tray's banner and the reminder; the
    // record keeps the feed's text as it stands.
    const QString version = platform::feedTextForDisplay(item.displayVersionString);
    setState(AppUpdateState::available(version));
    m_availability.record(item.displayVersionString, item.versionString);
    m_reminder.remindIfNeeded(version);
}

void Updater::didNotFindUpdate()
{
    m_availability.clear();
    m_reminder.cancelScheduled();
    setState(AppUpdateState::upToDate(m_now()));
}

void Updater::userDidMakeChoice(UpdateChoice choice, const AppcastItem &)
{
    m_cycleResolvedByUser = true;
    if (choice == UpdateChoice::skip) {
        m_availability.clear();
        m_reminder.cancelScheduled();
        setState(AppUpdateState::idle());
    }
}

void Updater::willInstallUpdate(const AppcastItem &)
{
    m_reminder.cancelScheduled();
}

void Updater::didFinishUpdateCycle(platform::UpdateCheckKind, const std::optional<QString> &error)
{
    finishCycle(error.has_value());
    readPreferences();
}

void Updater::willScheduleUpdateCheckAfterDelay(std::chrono::seconds)
{
    readPreferences();
}

void Updater::willNotScheduleUpdateCheck()
{
    readPreferences();
}

void Updater::finishCycle(bool failed)
{
    using Kind = AppUpdateState::Kind;
    AppUpdateState next = m_state;
    if (failed && !m_cycleResolvedByUser &&
        (m_state.kind == Kind::idle || m_state.kind == Kind::checking || m_state.kind == Kind::failed))
        next = AppUpdateState::failed();
    // A cycle that ended without a result and without a failure (the user cancelled their own
    // check) leaves nothing running: the line goes back to what it said before the check.
    if (next.kind == Kind::checking)
        next = m_stateBeforeCheck;
    setState(next);
    m_cycleResolvedByUser = false;
}

void Updater::setState(AppUpdateState state)
{
    m_state = std::move(state);
    emit stateChanged();
}

void Updater::readPreferences()
{
    storeAutomaticallyChecks(m_framework->automaticallyChecksForUpdates());
    storeAutomaticallyDownloads(m_framework->automaticallyDownloadsUpdates());
}

void Updater::storeAutomaticallyChecks(bool enabled)
{
    if (m_automaticallyChecksEnabled == enabled)
        return;
    m_automaticallyChecksEnabled = enabled;
    emit automaticallyChecksEnabledChanged(enabled);
}

void Updater::storeAutomaticallyDownloads(bool enabled)
{
    if (m_automaticallyDownloadsUpdates == enabled)
        return;
    m_automaticallyDownloadsUpdates = enabled;
    emit automaticallyDownloadsUpdatesChanged(enabled);
}

} // namespace zq
