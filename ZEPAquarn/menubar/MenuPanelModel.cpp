#include "menubar/MenuPanelModel.h"

#include "audio/AudioEngine.h"
#include "pipeline/DictationController.h"
#include "pipeline/LanguageCatalogue.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerReach.h"
#include "records/HistoryStore.h"
#include "records/IncidentStore.h"
#include "records/StatsStore.h"
#include "rewards/updates/Updater.h"
#include "runtime/BackendKind.h"
#include "runtime/Settings.h"
#include "window/AppWindowModel.h"
#include "window/settings/SettingsPageText.h"

#include <algorithm>
#include <chrono>

namespace zq {

MenuPanelModel::MenuPanelModel(Services services, QObject *parent)
    : QObject(parent), m_services(std::move(services)), m_copied(m_services.loop, [this] { emit changed(); })
{
    DictationController &controller = m_services.controller;
    connect(&controller, &DictationController::tapRunningChanged, this, &MenuPanelModel::changed);
    connect(&controller.history(), &HistoryStore::itemsChanged, this, &MenuPanelModel::changed);
    connect(&controller.incidents(), &IncidentStore::itemsChanged, this, &MenuPanelModel::changed);
    connect(&controller.stats(), &StatsStore::daysChanged, this, &MenuPanelModel::changed);
    connect(&m_services.settings, &rt::Settings::changed, this, &MenuPanelModel::settingChanged);
    if (m_services.updater)
        connect(m_services.updater, &Updater::stateChanged, this, &MenuPanelModel::changed);
    if (m_services.triggerReach)
        connect(m_services.triggerReach, &TriggerReach::changed, this, &MenuPanelModel::changed);
    if (m_services.milestones) {
        connect(m_services.milestones, &MilestoneStore::dismissedChanged, this, &MenuPanelModel::changed);
        connect(m_services.milestones, &MilestoneStore::shownChanged, this, &MenuPanelModel::changed);
    }
}

MenuPanelModel::~MenuPanelModel() = default;

QDateTime MenuPanelModel::now() const
{
    return m_services.now ? m_services.now() : QDateTime::currentDateTimeUtc();
}

WeekSummary MenuPanelModel::currentWeek() const
{
    const StatsStore &stats = m_services.controller.stats();
    return stats.summary(StatsWeek::containing(now(), stats.timeZone()));
}

void MenuPanelModel::appear()
{
    // A layout changed since the last look may have given the keyboard an Fn key, or taken it away.
    if (m_services.triggerReach)
        m_services.triggerReach->refresh();
    m_inputDevices = m_services.listInputDevices ? m_services.listInputDevices() : std::vector<AudioInputDevice>{};
    keepLanguageValid();
    if (m_services.milestones) {
        m_milestone =
            m_services.milestones->pending(m_services.controller.stats().lifetimeTakes(), currentWeek().words, now());
    }
    emit changed();
}

void MenuPanelModel::keepLanguageValid()
{
    if (!m_services.languages.keepsLanguage(language(), backend()))
        m_services.settings.setValue(keys::language, QStringLiteral("auto"));
}

void MenuPanelModel::settingChanged(const QString &key)
{
    // A language only the other engine knows is reset the moment the engine changes.
    if (key == keys::backend)
        keepLanguageValid();
    emit changed();
}

bool MenuPanelModel::showsEnableDictation() const
{
    return !m_services.controller.tapRunning();
}

void MenuPanelModel::enableDictation()
{
    // The tap's own change signal removes the button; a tap that cannot start leaves it.
    m_services.controller.ensureHotkeyTapRunning();
    if (showsUnseenTrigger())
        chooseTrigger();
}

bool MenuPanelModel::showsUnseenTrigger() const
{
    return m_services.triggerReach && !m_services.triggerReach->canStartTake();
}

void MenuPanelModel::chooseTrigger()
{
    emit closeRequested();
    if (m_services.openTriggerSettings)
        m_services.openTriggerSettings();
    else
        openMainWindow(AppWindowSection::general);
}

bool MenuPanelModel::copyLastEnabled() const
{
    return m_services.controller.history().latestText().has_value();
}

QString MenuPanelModel::copyLastTooltip() const
{
    return copyLastEnabled() ? QStringLiteral("Copy the latest transcript") : QStringLiteral("No transcripts yet");
}

void MenuPanelModel::copyLast()
{
    const std::optional<QString> text = m_services.controller.history().latestText();
    if (!m_services.copyText || !m_services.copyText(text))
        return;
    m_copied.confirm();
}

std::optional<QString> MenuPanelModel::availableUpdateVersion() const
{
    if (!m_services.updater)
        return std::nullopt;
    const AppUpdateState &state = m_services.updater->state();
    if (state.kind != AppUpdateState::Kind::available)
        return std::nullopt;
    return state.version;
}

void MenuPanelModel::update()
{
    if (m_services.updater)
        m_services.updater->checkForUpdates();
}

std::optional<RecentIssueBannerContent> MenuPanelModel::recentIssue() const
{
    const IncidentStore &incidents = m_services.controller.incidents();
    if (!incidents.hasUnread())
        return std::nullopt;
    // The newest incident, whether or not it is the unread one.
    const std::optional<DictationIncident> latest = incidents.latest();
    if (!latest)
        return std::nullopt;
    const QString subtitle = latest->recordingFilename
                                 ? QStringLiteral("Recording kept · View details · %1").arg(latest->code)
                                 : QStringLiteral("View details · %1").arg(latest->code);
    return RecentIssueBannerContent{latest->title, subtitle};
}

void MenuPanelModel::openRecentIssue()
{
    openMainWindow(AppWindowSection::support);
}

std::optional<Milestone> MenuPanelModel::milestone() const
{
    if (!m_services.milestones || m_services.milestones->dismissed())
        return std::nullopt;
    return m_milestone;
}

void MenuPanelModel::milestoneShown()
{
    if (const auto shown = milestone())
        m_services.milestones->markShown(*shown, now());
}

void MenuPanelModel::dismissMilestones()
{
    if (m_services.milestones)
        m_services.milestones->dismissForever();
}

MenuWeekRecapContent MenuPanelModel::weekRecap() const
{
    return weekRecapContent(currentWeek(), m_services.settings.integerValue(keys::typingWPM), m_services.locale);
}

void MenuPanelModel::openRecap()
{
    openMainWindow(AppWindowSection::stats);
}

QString MenuPanelModel::backend() const
{
    return m_services.settings.stringValue(keys::backend);
}

QString MenuPanelModel::language() const
{
    return m_services.settings.stringValue(keys::language);
}

void MenuPanelModel::setLanguage(const QString &language)
{
    if (language != this->language())
        m_services.settings.setValue(keys::language, language);
}

QList<MenuPanelOption> MenuPanelModel::languageOptions() const
{
    QList<MenuPanelOption> options{
        {QStringLiteral("auto"), QStringLiteral("System language"), QStringLiteral("globe")}};
    const QList<Language> &table = m_services.languages.languages(backend());
    for (const Language &entry : table)
        options.append({entry.code, entry.displayName, QString()});
    // A kept language without a model here reads as itself, not "Choose…"; the note says why.
    const std::optional<Language> unsupported = unsupportedLanguage();
    if (unsupported && unsupported->code == language() && !table.contains(*unsupported))
        options.append({unsupported->code, unsupported->displayName, QString()});
    return options;
}

std::optional<Language> MenuPanelModel::unsupportedLanguage() const
{
    return m_services.languages.unsupportedLanguage(backend(), language(), m_services.locale);
}

std::optional<LanguageNote> MenuPanelModel::languageNote() const
{
    const std::optional<Language> unsupported = unsupportedLanguage();
    if (!unsupported)
        return std::nullopt;
    return unsupportedLanguageNote(*unsupported);
}

bool MenuPanelModel::cleanupIncluded() const
{
    return backendKindOf(backend()) == BackendKind::openai;
}

bool MenuPanelModel::cleanupEnabled() const
{
    return m_services.settings.boolValue(keys::cleanupEnabled);
}

void MenuPanelModel::setCleanupEnabled(bool enabled)
{
    m_services.settings.setValue(keys::cleanupEnabled, enabled);
}

QString MenuPanelModel::inputDevice() const
{
    return m_services.settings.stringValue(keys::inputDevice);
}

void MenuPanelModel::setInputDevice(const QString &uid)
{
    // Choosing the current microphone again changes nothing and wakes nothing.
    if (uid == inputDevice())
        return;
    m_services.settings.setValue(keys::inputDevice, uid);
    if (m_services.inputPreferenceChanged)
        m_services.inputPreferenceChanged();
    else
        m_services.controller.audio().inputPreferenceChanged(InputChangeTrigger::picker);
}

QString MenuPanelModel::microphoneLabel(const AudioInputDevice &device)
{
    switch (device.transport) {
    case InputTransport::builtIn:
        return device.name + QStringLiteral(" — recommended");
    case InputTransport::bluetooth:
        return device.name + QStringLiteral(" — slower");
    default:
        return device.name;
    }
}

QList<MenuPanelOption> MenuPanelModel::microphoneOptions() const
{
    QList<MenuPanelOption> options{
        {kSystemDefaultInputPreference, QStringLiteral("Automatic"), QStringLiteral("arrow.triangle.2.circlepath")}};
    for (const AudioInputDevice &device : m_inputDevices)
        options.append({device.uid, microphoneLabel(device), QStringLiteral("mic")});
    return options;
}

void MenuPanelModel::openMainWindow(AppWindowSection section)
{
    // The panel goes first: left open it would stay over the window it opens.
    emit closeRequested();
    if (m_services.appWindow) {
        m_services.appWindow->setSelection(section);
        m_services.appWindow->activateApp();
    }
    openMainWindow();
    if (m_services.appWindow)
        m_services.appWindow->showWindow(0);
}

void MenuPanelModel::openMainWindow()
{
    emit closeRequested();
    if (m_services.openWindow)
        m_services.openWindow();
}

void MenuPanelModel::quit()
{
    if (m_services.quit)
        m_services.quit();
}

double MenuPanelModel::heightCap(std::optional<double> visibleHeight)
{
    if (!visibleHeight)
        return kMinimumHeightCap;
    return std::max(*visibleHeight - 25.0, kMinimumHeightCap);
}

} // namespace zq
