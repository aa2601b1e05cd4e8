#pragma once

#include "pipeline/TriggerBinding.h"
#include "platform/PermissionProbe.h"
#include "runtime/Executor.h"

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <optional>

namespace zq {

namespace rt {
class Settings;
} // namespace rt

// One of the three permission rows as the window shows it.
struct PermissionRowContent {
    QString title;
    QString detail;
    bool granted = false;
    // Empty: no button (granted, or the session cannot give it).
    QString buttonLabel;
};

// Everything the onboarding window says, computed from the model's state and the trigger settings.
struct OnboardingContent {
    enum Row { microphone, inputMonitoring, accessibility };
    std::array<PermissionRowContent, 3> rows;
    bool triggerUsable = false;
    QString triggerDetail;
    bool showsKeyboardSettings = false;
    bool doneEnabled = false;
};

// The first-run window without its widgets: the three checks dictation needs, whether the trigger can
// start dictation, and "Done", which stores "onboarded" and hands control back to the application.
// The checks are polled: every 1.5 s while the window is shown, and on "Re-check". Main thread only.
class OnboardingModel : public QObject {
    Q_OBJECT
public:
    static constexpr rt::Nanos kPollInterval = rt::seconds(1.5);
    static constexpr rt::Nanos kInputMonitoringRecheck = rt::seconds(2.0);

    // Seeds the four states from the probe.
    OnboardingModel(rt::Settings &settings, platform::PermissionProbe &probe, rt::MainLoop &loop,
                    std::function<void()> onDone, QObject *parent = nullptr);
    ~OnboardingModel() override;

    bool micGranted() const { return m_micGranted; }
    bool inputGranted() const { return m_input.granted; }
    bool axGranted() const { return m_accessibility.granted; }
    bool fnFree() const { return m_fnFree; }
    bool canOpenKeyboardSettings() const { return m_canOpenKeyboardSettings; }

    QString triggerKey() const;
    QString secondaryTriggerKey() const;
    // The primary trigger; Fn when the stored value does not decode.
    TriggerBinding primaryBinding() const;
    std::optional<TriggerBinding> secondaryBinding() const;
    // No trigger in force can be seen: Fn alone, and the keyboard map gives no key Fn.
    bool globeConflict() const;
    bool triggerIsUsable() const { return !globeConflict(); }
    QString triggerDetail() const;
    bool doneEnabled() const;
    OnboardingContent content() const;

    void refreshPermissions();
    void requestMicrophone();
    void requestInputMonitoring();
    void requestAccessibility();
    void openKeyboardSettings();
    // "Done": stores "onboarded", then runs the completion (the button is enabled only by doneEnabled()).
    void finish();

    // The window came on screen or left it: the status poll runs only while it is shown.
    void setShown(bool shown);

signals:
    // Any state or trigger setting changed.
    void changed();

private:
    void schedulePoll();
    void setMicGranted(bool granted);
    void logState() const;

    rt::Settings &m_settings;
    platform::PermissionProbe &m_probe;
    rt::MainLoop &m_loop;
    std::function<void()> m_onDone;
    bool m_micGranted = false;
    platform::PermissionProbe::Check m_input;
    platform::PermissionProbe::Check m_accessibility;
    bool m_fnFree = false;
    bool m_canOpenKeyboardSettings = false;
    rt::WorkItem m_pollWork;
    rt::Lifetime m_lifetime;
};

} // namespace zq
