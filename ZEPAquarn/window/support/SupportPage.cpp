#include "window/support/SupportPage.h"

#include "menubar/brand/ZepaButton.h"
#include "menubar/brand/ZepaSpinner.h"
#include "records/IncidentStore.h"
#include "window/settings/SettingsControls.h"
#include "window/settings/SettingsRows.h"
#include "window/support/IncidentRow.h"
#include "window/support/IncidentRowModel.h"
#include "window/support/SupportPageModel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace zq {

SupportPage::SupportPage(SupportPageModel &model, Services services, QWidget *parent)
    : QWidget(parent), m_model(model), m_services(std::move(services)), m_column(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("supportPage"));
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(28);

    auto *recovery = new SettingsSection(QStringLiteral("Recovery"), std::nullopt, this);
    m_recoveryRow =
        new SettingsRow(QStringLiteral("checkmark.circle"), QStringLiteral("Transcript recovered"), QString());
    recovery->add(m_recoveryRow);
    m_recovery = recovery;
    m_column->addWidget(m_recovery);

    const SupportPageLook look = m_model.look();
    auto *maintenance = new SettingsSection(QStringLiteral("Maintenance"), std::nullopt, this);
    m_reveal = new ZepaButton(ZepaButtonStyle::quiet, QStringLiteral("Reveal"));
    connect(m_reveal, &QAbstractButton::clicked, &m_model, &SupportPageModel::revealDiagnostics);
    m_diagnosticsRow =
        new SettingsRow(look.diagnostics.icon, look.diagnostics.title, look.diagnostics.detail, m_reveal);
    maintenance->add(m_diagnosticsRow);

    if (look.hasUpdates) {
        maintenance->add(new SettingsDivider);
        auto *control = new QWidget;
        auto *controlRow = new QHBoxLayout(control);
        controlRow->setContentsMargins(0, 0, 0, 0);
        m_updateButton = new ZepaButton(ZepaButtonStyle::quiet, QStringLiteral("Check Now"), {}, control);
        connect(m_updateButton, &QAbstractButton::clicked, &m_model, &SupportPageModel::checkForUpdates);
        controlRow->addWidget(m_updateButton);
        m_updateSpinner = new ZepaSpinner(16, control);
        m_updateSpinner->setAccessibleName(QStringLiteral("Checking for updates"));
        controlRow->addWidget(m_updateSpinner);
        m_updatesRow = new SettingsRow(look.updates.icon, look.updates.title, look.updates.detail, control);
        maintenance->add(m_updatesRow);

        maintenance->add(new SettingsDivider);
        m_checksSwitch = makeSwitch(QStringLiteral("Check for updates automatically"),
                                    [this](bool on) { m_model.setAutomaticChecks(on); });
        m_checksRow =
            new SettingsRow(QStringLiteral("clock.arrow.circlepath"), QStringLiteral("Check for updates automatically"),
                            look.automaticChecksDetail, m_checksSwitch);
        maintenance->add(m_checksRow);

        maintenance->add(new SettingsDivider);
        m_downloadsSwitch = makeSwitch(QStringLiteral("Install updates automatically"),
                                       [this](bool on) { m_model.setAutomaticDownloads(on); });
        maintenance->add(
            new SettingsRow(QStringLiteral("arrow.down.app"), QStringLiteral("Install updates automatically"),
                            QStringLiteral("Downloads updates and installs them after you quit."), m_downloadsSwitch));
    }
    m_column->addWidget(maintenance);

    connect(&m_model, &SupportPageModel::incidentsChanged, this, &SupportPage::rebuildIncidents);
    connect(&m_model, &SupportPageModel::changed, this, &SupportPage::refresh);
    rebuildIncidents();
    refresh();
}

QList<IncidentRow *> SupportPage::incidentRows() const
{
    return m_incidents ? m_incidents->findChildren<IncidentRow *>(QString(), Qt::FindDirectChildrenOnly)
                       : QList<IncidentRow *>{};
}

QAbstractButton *SupportPage::revealButton() const
{
    return m_reveal;
}

void SupportPage::rebuildIncidents()
{
    const SupportPageLook look = m_model.look();
    // Rows are kept by incident, so a row's copy confirmation stays with it while others go.
    std::map<QUuid, QPointer<IncidentRow>> kept;
    for (const DictationIncident &incident : look.incidents) {
        const auto found = m_rows.find(incident.id);
        if (found != m_rows.end() && found->second)
            kept.emplace(incident.id, found->second);
    }
    for (auto &[id, row] : m_rows)
        if (row && !kept.count(id))
            row->deleteLater();

    auto *section = new SettingsSection(QStringLiteral("Recent issues"), look.incidentsDetail, this);
    section->setObjectName(QStringLiteral("supportIncidents"));
    if (look.noIncidents) {
        section->add(new SettingsRow(look.noIncidents->icon, look.noIncidents->title, look.noIncidents->detail));
    }
    bool first = true;
    for (const DictationIncident &incident : look.incidents) {
        if (!first)
            section->add(new SettingsDivider);
        first = false;
        IncidentRow *row = kept.count(incident.id) ? kept[incident.id].data() : nullptr;
        if (!row) {
            auto *rowModel = new IncidentRowModel(incident, m_model.incidents(), m_model.controller(),
                                                  m_services.pasteboard, m_services.loop, m_services.locale);
            row = new IncidentRow(*rowModel);
            rowModel->setParent(row);
            kept.emplace(incident.id, row);
        }
        section->add(row);
    }
    m_rows = std::move(kept);

    if (m_incidents) {
        m_column->replaceWidget(m_incidents, section);
        m_incidents->hide();
        m_incidents->deleteLater();
    } else {
        m_column->insertWidget(1, section);
    }
    m_incidents = section;
}

void SupportPage::refresh()
{
    const SupportPageLook look = m_model.look();
    m_recovery->setVisible(look.recovery.has_value());
    if (look.recovery)
        m_recoveryRow->setDetail(look.recovery->detail);
    m_diagnosticsRow->setStatus({look.diagnostics.detailTone, look.diagnostics.detail});

    if (!m_updatesRow)
        return;
    m_updatesRow->setIcon(look.updates.icon, look.updates.iconTint);
    m_updatesRow->titleLabel()->setText(look.updates.title);
    m_updatesRow->setDetail(look.updates.detail);
    m_updateButton->setVisible(look.updateControl != UpdateControl::spinner);
    m_updateSpinner->setVisible(look.updateControl == UpdateControl::spinner);
    m_updateButton->setText(look.updateControl == UpdateControl::updateButton ? QStringLiteral("Update")
                                                                              : QStringLiteral("Check Now"));
    m_checksRow->setDetail(look.automaticChecksDetail);
    // Read from the updater every time: a change made elsewhere shows at once.
    setSwitch(m_checksSwitch, look.automaticChecks);
    setSwitch(m_downloadsSwitch, look.automaticDownloads);
}

} // namespace zq
