#include "window/support/SupportPageModel.h"

#include "pipeline/DictationController.h"
#include "records/IncidentStore.h"
#include "rewards/updates/Updater.h"
#include "window/support/RevealFailureText.h"

#include <QPointer>

namespace zq {

SupportPageLook supportPageLook(const RecoveredTranscriptionState &recovery, const QList<DictationIncident> &incidents,
                                const std::optional<SupportUpdateInputs> &updates, const QDateTime &now,
                                const std::optional<QString> &unshownJournal)
{
    SupportPageLook look;
    if (recovery.is(RecoveredTranscriptionState::Kind::succeeded))
        look.recovery =
            SupportRowLook{QStringLiteral("checkmark.circle"), QStringLiteral("Transcript recovered"),
                           recovery.copied() ? QStringLiteral("Saved in History and copied to the clipboard.")
                                             : QStringLiteral("Saved in History. Open History to copy it.")};

    if (incidents.isEmpty()) {
        look.noIncidents = SupportRowLook{
            QStringLiteral("checkmark.circle"), QStringLiteral("No recent failures"),
            QStringLiteral("If a dictation fails, a simple explanation and support code will appear here.")};
    } else {
        look.incidentsDetail = QStringLiteral("Issue details stay on this computer unless you choose to copy them.");
        // A file written with more than five still shows only the newest five.
        look.incidents = incidents.first(std::min<qsizetype>(incidents.size(), kSupportPageIncidentRows));
    }

    look.diagnostics = SupportRowLook{QStringLiteral("stethoscope"), QStringLiteral("Diagnostics"),
                                      QStringLiteral("Local lifecycle, hang and crash reports.")};
    if (unshownJournal) {
        look.diagnostics.detail = revealFailureText(QStringLiteral("log"), *unshownJournal);
        look.diagnostics.detailTone = DetailTone::danger;
    }

    if (updates) {
        look.hasUpdates = true;
        const bool available = updates->state.kind == AppUpdateState::Kind::available;
        look.updates = available ? SupportRowLook{QStringLiteral("arrow.down.circle.fill"),
                                                  QStringLiteral("Update available"),
                                                  {},
                                                  Palette::warning}
                                 : SupportRowLook{QStringLiteral("arrow.down.circle"), QStringLiteral("Updates"), {}};
        look.updates.detail = updates->state.statusText(updates->automaticChecks, now, updates->host);
        look.updateControl = updates->state.kind == AppUpdateState::Kind::checking ? UpdateControl::spinner
                             : available                                           ? UpdateControl::updateButton
                                                                                   : UpdateControl::checkNowButton;
        look.automaticChecksDetail =
            QStringLiteral("Checks ") + updates->host + QStringLiteral(" once a day for signed releases.");
        look.automaticChecks = updates->automaticChecks;
        look.automaticDownloads = updates->automaticDownloads;
    }
    return look;
}

SupportPageModel::SupportPageModel(Services services, QObject *parent)
    : QObject(parent), m_services(std::move(services))
{
    connect(&m_services.controller, &DictationController::recoveredTranscriptionStateChanged, this,
            &SupportPageModel::changed);
    connect(&m_services.incidents, &IncidentStore::itemsChanged, this, [this] {
        emit incidentsChanged();
        emit changed();
    });
    if (Updater *updater = m_services.updater) {
        connect(updater, &Updater::stateChanged, this, &SupportPageModel::changed);
        connect(updater, &Updater::automaticallyChecksEnabledChanged, this, &SupportPageModel::changed);
        connect(updater, &Updater::automaticallyDownloadsUpdatesChanged, this, &SupportPageModel::changed);
    }
}

SupportPageLook SupportPageModel::look() const
{
    std::optional<SupportUpdateInputs> updates;
    if (Updater *updater = m_services.updater)
        updates = SupportUpdateInputs{updater->state(), updater->automaticallyChecksEnabled(),
                                      updater->automaticallyDownloadsUpdates(), updater->framework().feedUrl().host()};
    return supportPageLook(m_services.controller.recoveredTranscriptionState(), m_services.incidents.items(), updates,
                           m_services.now(), m_unshownJournal);
}

void SupportPageModel::revealDiagnostics()
{
    if (!m_services.revealDiagnostics)
        return;
    // The answer may come after the page is gone.
    m_services.revealDiagnostics([self = QPointer<SupportPageModel>(this)](const RevealResult &result) {
        if (!self)
            return;
        self->m_unshownJournal = result.shown ? std::nullopt : std::optional<QString>(result.path);
        emit self->changed();
    });
}

void SupportPageModel::checkForUpdates()
{
    if (m_services.updater)
        m_services.updater->checkForUpdates();
}

void SupportPageModel::setAutomaticChecks(bool enabled)
{
    if (m_services.updater)
        m_services.updater->setAutomaticallyChecksEnabled(enabled);
}

void SupportPageModel::setAutomaticDownloads(bool enabled)
{
    if (m_services.updater)
        m_services.updater->setAutomaticallyDownloadsUpdates(enabled);
}

} // namespace zq
