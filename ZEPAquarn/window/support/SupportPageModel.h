#pragma once

#include "menubar/brand/Palette.h"
#include "pipeline/RecoveredTranscriptionState.h"
#include "records/DictationIncident.h"
#include "records/FileManagerReveal.h"
#include "rewards/updates/UpdateState.h"
#include "window/settings/SettingsPageText.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace zq {

class DictationController;
class IncidentStore;
class Updater;

// A settings row as the Support page draws it.
struct SupportRowLook {
    QString icon;
    QString title;
    QString detail;
    Palette::Token iconTint = Palette::textSecondary;
    DetailTone detailTone = DetailTone::tertiary;

    friend bool operator==(const SupportRowLook &, const SupportRowLook &) = default;
};

// What the Updates row holds on its right.
enum class UpdateControl { spinner, updateButton, checkNowButton };

// The page at an instant: the Recovery section while a re-transcription has succeeded, the recent
// issues (or their empty row), and the update rows when there is an updater.
struct SupportPageLook {
    std::optional<SupportRowLook> recovery;
    std::optional<QString> incidentsDetail;
    std::optional<SupportRowLook> noIncidents;
    QList<DictationIncident> incidents; // the newest five, newest first
    SupportRowLook diagnostics;
    bool hasUpdates = false;
    SupportRowLook updates;
    UpdateControl updateControl = UpdateControl::checkNowButton;
    QString automaticChecksDetail;
    bool automaticChecks = false;
    bool automaticDownloads = false;
};

// The inputs of the update rows, read from the updater each time the page draws.
struct SupportUpdateInputs {
    AppUpdateState state;
    bool automaticChecks = false;
    bool automaticDownloads = false;
    QString host; // of the update site
};

inline constexpr int kSupportPageIncidentRows = 5;

// `unshownJournal`: the journal's path when its last reveal found nothing to show it.
SupportPageLook supportPageLook(const RecoveredTranscriptionState &recovery, const QList<DictationIncident> &incidents,
                                const std::optional<SupportUpdateInputs> &updates, const QDateTime &now,
                                const std::optional<QString> &unshownJournal = std::nullopt);

// The Support page's state and actions over the controller, the incident store and the updater
// (which may be null: no update rows). It keeps no copy of what it shows: look() reads them all
// each time, and changed() follows each of them. Main thread.
class SupportPageModel : public QObject {
    Q_OBJECT
public:
    struct Services {
        DictationController &controller;
        IncidentStore &incidents;
        Updater *updater = nullptr;
        // Shows the diagnostics journal in the file manager and says whether anything could.
        std::function<void(RevealDone)> revealDiagnostics;
        std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
    };

    explicit SupportPageModel(Services services, QObject *parent = nullptr);

    SupportPageLook look() const;

    DictationController &controller() const { return m_services.controller; }
    IncidentStore &incidents() const { return m_services.incidents; }

    // When nothing could show the journal, the Diagnostics row says where it is until a later
    // reveal succeeds.
    void revealDiagnostics();
    void checkForUpdates();
    void setAutomaticChecks(bool enabled);
    void setAutomaticDownloads(bool enabled);

signals:
    void changed();
    // The incident list itself changed (rows come and go), as opposed to one row's look.
    void incidentsChanged();

private:
    Services m_services;
    std::optional<QString> m_unshownJournal;
};

} // namespace zq
