#pragma once

#include "menubar/brand/Palette.h"
#include "runtime/Executor.h"

#include <QLocale>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <map>

class QAbstractButton;
class QVBoxLayout;

namespace zq {

namespace platform {
class Pasteboard;
}
class IncidentRow;
class SettingsRow;
class SettingsSection;
class SupportPageModel;
class ZepaButton;

// The body of the Support settings page: Recovery (while a re-transcription has succeeded), Recent
// issues (the newest five incidents, or the all-clear row) and Maintenance (diagnostics, updates and
// the two automatic-update switches). It keeps no copy of what it shows: it follows its model.
class SupportPage : public QWidget {
    Q_OBJECT
public:
    struct Services {
        platform::Pasteboard &pasteboard; // where the rows copy issue reports
        rt::MainLoop &loop;               // the rows' 1.2 s copy confirmations
        QLocale locale = QLocale();
    };

    // Observes the model without owning it; a model made for this page alone is made its child.
    SupportPage(SupportPageModel &model, Services services, QWidget *parent = nullptr);

    SupportPageModel &model() const { return m_model; }
    QWidget *recoverySection() const { return m_recovery; }
    SettingsRow *recoveryRow() const { return m_recoveryRow; }
    SettingsSection *incidentsSection() const { return m_incidents; }
    QList<IncidentRow *> incidentRows() const;
    QAbstractButton *revealButton() const;
    SettingsRow *diagnosticsRow() const { return m_diagnosticsRow; }
    SettingsRow *updatesRow() const { return m_updatesRow; }
    ZepaButton *updateButton() const { return m_updateButton; }
    QAbstractButton *automaticChecksSwitch() const { return m_checksSwitch; }
    QAbstractButton *automaticDownloadsSwitch() const { return m_downloadsSwitch; }

private:
    void rebuildIncidents();
    void refresh();

    SupportPageModel &m_model;
    Services m_services;
    QVBoxLayout *m_column;
    QWidget *m_recovery;
    SettingsRow *m_recoveryRow;
    SettingsSection *m_incidents = nullptr;
    std::map<QUuid, QPointer<IncidentRow>> m_rows;
    ZepaButton *m_reveal = nullptr;
    SettingsRow *m_diagnosticsRow = nullptr;
    SettingsRow *m_updatesRow = nullptr;
    ZepaButton *m_updateButton = nullptr;
    QWidget *m_updateSpinner = nullptr;
    SettingsRow *m_checksRow = nullptr;
    QAbstractButton *m_checksSwitch = nullptr;
    QAbstractButton *m_downloadsSwitch = nullptr;
};

} // namespace zq
