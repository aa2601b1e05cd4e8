#include "window/onboarding/OnboardingModel.h"

#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerReach.h"
#include "runtime/Log.h"
#include "runtime/Settings.h"

#include <memory>

namespace zq {

namespace {

PermissionRowContent row(QString title, QString detail, const platform::PermissionProbe::Check &check,
                         QString buttonLabel)
{
    if (check.granted)
        return {std::move(title), std::move(detail), true, {}};
    if (!check.unavailableReason.isEmpty())
        return {std::move(title), check.unavailableReason, false, {}};
    return {std::move(title), std::move(detail), false, std::move(buttonLabel)};
}

} // namespace

OnboardingModel::OnboardingModel(rt::Settings &settings, platform::PermissionProbe &probe, rt::MainLoop &loop,
                                 std::function<void()> onDone, QObject *parent)
    : QObject(parent), m_settings(settings), m_probe(probe), m_loop(loop), m_onDone(std::move(onDone))
{
    m_micGranted = m_probe.microphoneAvailable();
    m_accessibility = m_probe.accessibility();
    m_input = m_probe.keyListening();
    const std::optional<platform::KeyboardMap> keyboard = m_probe.keyboardMap();
    m_fnFree = keyboard && keyboard->hasFnKey;
    m_canOpenKeyboardSettings = m_probe.canOpenKeyboardSettings();
    logState();
    connect(&m_settings, &rt::Settings::changed, this, [this](const QString &key) {
        if (key == keys::triggerKey || key == keys::secondaryTriggerKey)
            emit changed();
    });
}

OnboardingModel::~OnboardingModel()
{
    m_pollWork.cancel();
}

QString OnboardingModel::triggerKey() const
{
    return m_settings.stringValue(keys::triggerKey);
}

QString OnboardingModel::secondaryTriggerKey() const
{
    return m_settings.stringValue(keys::secondaryTriggerKey);
}

TriggerBinding OnboardingModel::primaryBinding() const
{
    return TriggerBinding::fromStorageValue(triggerKey()).value_or(TriggerBinding::predefined(TriggerKey::fn));
}

std::optional<TriggerBinding> OnboardingModel::secondaryBinding() const
{
    const QString value = secondaryTriggerKey();
    if (value.isEmpty())
        return std::nullopt;
    return TriggerBinding::fromStorageValue(value);
}

bool OnboardingModel::globeConflict() const
{
    return triggersSeen(primaryBinding(), secondaryBinding(), m_fnFree).empty();
}

QString OnboardingModel::triggerDetail() const
{
    // Only the triggers that can start a take are named: Fn that never reaches the desktop is left out.
    const std::vector<TriggerBinding> seen = triggersSeen(primaryBinding(), secondaryBinding(), m_fnFree);
    if (seen.empty())
        return QStringLiteral("Add a secondary trigger, choose another key, or map Fn in your keyboard settings.");
    if (seen.size() == 1)
        return QStringLiteral("Hold ") + seen.front().displayName() + QStringLiteral(" to talk; tap it to lock.");
    return QStringLiteral("Use ") + seen[0].displayName() + QStringLiteral(" or ") + seen[1].displayName() +
           QStringLiteral(" to talk.");
}

bool OnboardingModel::doneEnabled() const
{
    return m_micGranted && m_accessibility.granted && m_input.granted;
}

OnboardingContent OnboardingModel::content() const
{
    OnboardingContent content;
    content.rows[OnboardingContent::microphone] =
        row(QStringLiteral("Microphone"), QStringLiteral("To hear your voice."), {m_micGranted, {}},
            QStringLiteral("Grant"));
    content.rows[OnboardingContent::inputMonitoring] =
        row(QStringLiteral("Input Monitoring"), QStringLiteral("To notice when you hold your trigger."), m_input,
            QStringLiteral("Grant"));
    content.rows[OnboardingContent::accessibility] =
        row(QStringLiteral("Accessibility"), QStringLiteral("To paste text into your apps."), m_accessibility,
            QStringLiteral("Open Settings"));
    content.triggerUsable = triggerIsUsable();
    content.triggerDetail = triggerDetail();
    content.showsKeyboardSettings = globeConflict() && m_canOpenKeyboardSettings;
    content.doneEnabled = doneEnabled();
    return content;
}

void OnboardingModel::refreshPermissions()
{
    const bool mic = m_probe.microphoneAvailable();
    const platform::PermissionProbe::Check accessibility = m_probe.accessibility();
    const platform::PermissionProbe::Check input = m_probe.keyListening();
    const std::optional<platform::KeyboardMap> keyboard = m_probe.keyboardMap();
    const bool fnFree = keyboard && keyboard->hasFnKey;
    const bool canOpen = m_probe.canOpenKeyboardSettings();
    const bool same = mic == m_micGranted && accessibility.granted == m_accessibility.granted &&
                      accessibility.unavailableReason == m_accessibility.unavailableReason &&
                      input.granted == m_input.granted && input.unavailableReason == m_input.unavailableReason &&
                      fnFree == m_fnFree && canOpen == m_canOpenKeyboardSettings;
    m_micGranted = mic;
    m_accessibility = accessibility;
    m_input = input;
    m_fnFree = fnFree;
    m_canOpenKeyboardSettings = canOpen;
    if (!same) {
        logState();
        emit changed();
    }
}

void OnboardingModel::logState() const
{
    qCInfo(lcApp).nospace().noquote() << "onboarding: microphone " << m_micGranted << ", input monitoring "
                                      << m_input.granted << ", accessibility " << m_accessibility.granted << ", fn key "
                                      << m_fnFree << "; trigger row: " << triggerDetail();
}

void OnboardingModel::requestMicrophone()
{
    // The answer may come on any thread, after this model is gone: it reaches the state only through
    // the main loop, and only while the model lives.
    auto deliver =
        std::make_shared<std::function<void(bool)>>(m_lifetime.guard([this](bool heard) { setMicGranted(heard); }));
    m_probe.requestMicrophone(
        [&loop = m_loop, deliver](bool heard) { loop.post([deliver, heard] { (*deliver)(heard); }); });
}

void OnboardingModel::setMicGranted(bool granted)
{
    if (granted == m_micGranted)
        return;
    m_micGranted = granted;
    logState();
    emit changed();
}

void OnboardingModel::requestInputMonitoring()
{
    m_probe.requestKeyListening();
    m_loop.postDelayed(kInputMonitoringRecheck, m_lifetime.guard([this] {
        if (m_probe.keyListening().granted)
            return;
        if (!m_probe.openKeyListeningSettings())
            qCInfo(lcApp) << "onboarding: the session has no settings for global key listening";
    }));
}

void OnboardingModel::requestAccessibility()
{
    m_probe.requestAccessibility();
}

void OnboardingModel::openKeyboardSettings()
{
    if (!m_probe.openKeyboardSettings())
        qCWarning(lcApp) << "onboarding: the keyboard settings could not be opened";
}

void OnboardingModel::finish()
{
    m_settings.setValue(keys::onboarded, true);
    if (m_onDone)
        m_onDone();
}

void OnboardingModel::setShown(bool shown)
{
    m_pollWork.cancel();
    m_pollWork = {};
    if (shown)
        schedulePoll();
}

void OnboardingModel::schedulePoll()
{
    m_pollWork = m_loop.postDelayed(kPollInterval, m_lifetime.guard([this] {
        refreshPermissions();
        schedulePoll();
    }));
}

} // namespace zq
