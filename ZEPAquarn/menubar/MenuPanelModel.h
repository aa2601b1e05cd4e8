#pragma once

#include "audio/AudioInputDevice.h"
#include "menubar/MenuWeekRecapContent.h"
#include "menubar/brand/CopyConfirmation.h"
#include "pipeline/LanguageCatalogue.h"
#include "rewards/milestones/MilestoneStore.h"
#include "runtime/Executor.h"
#include "window/AppWindowSection.h"
#include "window/settings/SettingsPageText.h"

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace zq {

namespace rt {
class Settings;
}

class AppWindowModel;
class DictationController;
class TriggerReach;
class Updater;

// One choice of a panel picker: the stored value, its label and its symbol.
struct MenuPanelOption {
    QString value;
    QString label;
    QString systemImage;

    friend bool operator==(const MenuPanelOption &, const MenuPanelOption &) = default;
};

// The recent-issue banner's two lines.
struct RecentIssueBannerContent {
    QString title;
    QString subtitle;

    friend bool operator==(const RecentIssueBannerContent &, const RecentIssueBannerContent &) = default;
};

// The tray panel's state and actions, without widgets: which blocks show, what they say, the
// settings its controls edit (straight through the settings store, so an open settings page and the
// panel always agree) and what its buttons do. Main thread only.
class MenuPanelModel : public QObject {
    Q_OBJECT
public:
    static constexpr double kMinimumHeightCap = 320;

    struct Services {
        DictationController &controller;
        rt::Settings &settings;
        rt::MainLoop &loop;
        // None: no update banner.
        Updater *updater = nullptr;
        // None: the panel offers no milestones.
        MilestoneStore *milestones = nullptr;
        // None: the window-opening actions only call `openWindow`.
        AppWindowModel *appWindow = nullptr;
        // Opens (or brings forward) the main window.
        std::function<void()> openWindow = {};
        std::function<void()> quit = {};
        // The input devices present now.
        std::function<std::vector<AudioInputDevice>()> listInputDevices = {};
        // Puts the newest transcript on the clipboard; false when nothing was copied.
        std::function<bool(const std::optional<QString> &text)> copyText = {};
        // Tells the audio engine that the user picked another input; the engine's own when empty.
        std::function<void()> inputPreferenceChanged = {};
        // The languages each engine offers; none on the device unless a model was found.
        LanguageCatalogue languages = {};
        // The wall clock; the system's when empty.
        std::function<QDateTime()> now = {};
        // Whether the triggers in force can start a take; none: the panel never warns.
        TriggerReach *triggerReach = nullptr;
        // Opens the General page at the trigger recorder; the General page alone when empty.
        std::function<void()> openTriggerSettings = {};
        QLocale locale = QLocale();
    };

    explicit MenuPanelModel(Services services, QObject *parent = nullptr);
    ~MenuPanelModel() override;

    // Each time the panel comes on screen: the devices are listed, the language is made valid for
    // the backend and the milestone is chosen.
    void appear();

    // The header. "Enable Dictation" only while the tap is off: a running tap that no key reaches is
    // the line under the header's problem, and its "Choose Key" is the one button for it.
    bool showsEnableDictation() const;
    // Starts the tap; when still no trigger can be seen, opens the trigger recorder.
    void enableDictation();
    // The line under the header: Fn alone is the trigger and the keyboard map gives no Fn key.
    bool showsUnseenTrigger() const;
    void chooseTrigger();
    bool copyLastEnabled() const;
    QString copyLastTooltip() const;
    bool copied() const { return m_copied.isShown(); }
    void copyLast();

    // The banners: the update's version while one is available; the newest incident while any is unread.
    std::optional<QString> availableUpdateVersion() const;
    void update();
    std::optional<RecentIssueBannerContent> recentIssue() const;
    void openRecentIssue();

    // The milestone chosen on appear, while the store is not dismissed.
    std::optional<Milestone> milestone() const;
    // The milestone line came on screen.
    void milestoneShown();
    void dismissMilestones();

    MenuWeekRecapContent weekRecap() const;
    void openRecap();

    // The controls.
    QString backend() const;
    QString language() const;
    void setLanguage(const QString &language);
    QList<MenuPanelOption> languageOptions() const;
    // The Transcription page's note under the Language row: the on-device engine has no model for
    // the chosen language (or for the system language "auto" follows).
    std::optional<LanguageNote> languageNote() const;
    // With the OpenAI engine cleanup is always on: the row says "Included" instead of a switch.
    bool cleanupIncluded() const;
    bool cleanupEnabled() const;
    void setCleanupEnabled(bool enabled);
    QString inputDevice() const;
    void setInputDevice(const QString &uid);
    QList<MenuPanelOption> microphoneOptions() const;
    const std::vector<AudioInputDevice> &inputDevices() const { return m_inputDevices; }

    // The footer.
    void openMainWindow(AppWindowSection section);
    void openMainWindow();
    void quit();

    // The tallest the panel may be on a screen whose visible height is `visibleHeight` (none when
    // there is no screen).
    static double heightCap(std::optional<double> visibleHeight);
    // A microphone's label in the picker, from its transport.
    static QString microphoneLabel(const AudioInputDevice &device);

signals:
    // Anything the panel shows may have changed.
    void changed();
    // The panel is to close: it is about to bring up the main window, which it must not cover.
    void closeRequested();

private:
    QDateTime now() const;
    WeekSummary currentWeek() const;
    void keepLanguageValid();
    std::optional<Language> unsupportedLanguage() const;
    void settingChanged(const QString &key);

    Services m_services;
    std::vector<AudioInputDevice> m_inputDevices;
    std::optional<Milestone> m_milestone;
    CopyConfirmation m_copied;
};

} // namespace zq
