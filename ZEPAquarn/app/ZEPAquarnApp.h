#pragma once

#include "app/AppServices.h"
#include "app/MemoryRelease.h"
#include "app/ZEPAquarnAppDelegate.h"
#include "pipeline/Colorway.h"
#include "rewards/depth/DepthStore.h"
#include "rewards/motion/MotionStore.h"
#include "rewards/updates/Updater.h"
#include "runtime/Executor.h"
#include "runtime/FileOps.h"
#include "window/AppWindowKept.h"
#include "window/AppWindowModel.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QApplication;
class QWidget;

namespace zq {

class AppearanceService;
class AppSettingsModel;
class AppWindowView;
class SettingsShortcut;
class DictationController;
class MenuBarExtra;
class MenuPanel;
class MenuPanelModel;
class MilestoneStore;
class Motion;
class OnboardingView;
class TriggerReach;

// Tells the user of each file in `files` (the none entries are files that loaded) that it could not be
// read and where it is kept, one notification each, posted on `loop`. The settings and the stores
// set their files aside as they load; the wiring that made them hands over what they kept aside.
void tellOfKeptAsideFiles(rt::MainLoop &loop, platform::UserNotifications &center,
                          const std::vector<std::optional<rt::KeptAsideFile>> &files);

// Whether the application shows in the desktop's task list as well as the tray ("showInDock").
enum class TaskbarPresence { shown, hidden };

// How a launch orders its work.
enum class LaunchOrder {
    // The construction steps in the constructor, the scenes in showScenes(), all at once.
    allAtOnce,
    // The tray icon first: the constructor does only what the icon shows, showScenes() shows it,
    // and diagnostics, the controller and the rest of the scenes follow from the main loop, a step
    // per turn, in the same order. Anything that needs them before then finishes the launch at once.
    trayIconFirst,
};

// The application: its construction order, its three scenes (the tray extra with the menu panel, the
// main window, the onboarding window), the menu commands and the delegate's hooks. Main thread only.
class ZEPAquarnApp : public QObject {
    Q_OBJECT
public:
    // `services` outlive the application.
    explicit ZEPAquarnApp(AppServices &services, LaunchOrder order = LaunchOrder::allAtOnce, QObject *parent = nullptr);

    // What the settings pages need beyond the controller. `makeModel` builds their state (without it
    // the settings sections show their titles only); `setTaskbarPresence` puts a window in the
    // taskbar and window switcher or keeps it out ("showInDock"). Call before the main window opens.
    using SettingsModelFactory = std::function<std::unique_ptr<AppSettingsModel>(
        DictationController &controller, std::function<void(bool shown)> applyShowInDock)>;
    void setSettingsServices(SettingsModelFactory makeModel,
                             std::function<void(QWidget &window, bool shown)> setTaskbarPresence);
    ~ZEPAquarnApp() override;

    // Builds the scenes: the tray extra (or, without a tray host, the main window, so the application
    // is never unreachable) and the onboarding window while onboarding is needed. Then, launched,
    // refreshes the invite progress once.
    void showScenes();
    // Runs now what a tray-icon-first launch has not run yet; nothing once everything has run.
    void finishLaunching();
    bool isLaunched() const { return m_scenesFinished; }

    bool needsOnboarding() const { return m_needsOnboarding; }
    // Made during construction, or (tray icon first) by finishLaunching().
    DictationController &controller() const { return *m_controller; }
    ZEPAquarnAppDelegate &delegate() { return m_delegate; }
    AppWindowModel &windowModel() { return m_windowModel; }
    // The light or dark scheme and reduce motion, for views that are not widgets of the application.
    AppearanceService &appearance() { return *m_appearance; }
    // The ticker of every animation, switched off while the desktop reduces motion; the windows of
    // the application provide it, the pill is handed it.
    Motion &animations() { return *m_animations; }
    // Built with the scenes; none before showScenes() or without makeUpdater.
    Updater *updater() const { return m_updater.get(); }
    // The one store of the chosen listening animation, for the window, settings and statistics pages.
    MotionStore &motion() { return m_motion; }
    MenuBarExtra *menuBarExtra() const { return m_menuBarExtra.get(); }
    // Made when the panel first opens.
    MenuPanel *menuPanel() const { return m_menuPanel; }
    AppWindowView *mainWindow() const { return m_mainWindow.get(); }
    OnboardingView *onboardingWindow() const { return m_onboardingWindow.get(); }

    // The "Settings…" command: the main window at the General page.
    void openSettings();
    // The General page with the keyboard on the trigger recorder's primary picker.
    void openTriggerSettings();
    // Whether the triggers in force can start a take, as the tray icon and the panel show it.
    TriggerReach &triggerReach() { return *m_triggerReach; }
    // Opens (or brings forward) the main window at its current page.
    void openMainWindow();
    // The application icon and the pill wear the colorway.
    void applyWearColorway(Colorway colorway);
    // The delegate's termination hook; runs once, when the application is about to quit.
    void applicationWillTerminate();
    // The display went away under the application, which ends without a quit: the delegate's
    // termination hook runs (once, as at a quit), nothing else does.
    void applicationLostDisplay();

    // How long the main window stays closed before its pages are let go; it is built anew, at the
    // same page, when it next opens.
    static constexpr rt::Nanos kClosedWindowKept = rt::seconds(30);
    // How long after a take the pill must stay hidden before what the take freed is given back: a
    // quick next take reuses it, and the paste never shares the allocator with the trim.
    static constexpr rt::Nanos kFinishedTakeMemoryKept = rt::seconds(5);
    // How long the tray panel stays hidden before its window, and what the window drew, is given back;
    // a quick reopen keeps it. It is built anew, as it was, at the next open.
    static constexpr rt::Nanos kHiddenPanelWindowKept = rt::seconds(3);

private:
    // Diagnostics, the controller and, once onboarded, the trigger.
    void constructController();
    void showTrayIcon();
    // The scenes after the tray icon, once the controller exists.
    void finishScenes();
    void wireAppDelegate();
    QWidget *makeStatsPage(QWidget *parent);
    QWidget *makeHistoryPage(QWidget *parent);
    QWidget *makeSupportPage(QWidget *parent);
    void applyShowInDock(bool shown);
    // Lets go of the main window with its pages while it is closed, and of what they drew.
    void releaseClosedWindow();
    // Gives back the native window of the tray panel's popup, with its backing store, while hidden.
    void releaseHiddenPanelWindow();
    // Once the pill has stayed hidden after a take, gives back what the take's decoding freed.
    void followPillForMemory();
    // The keyboard map the launch read until the launch is done, then the display's now.
    std::optional<platform::KeyboardMap> keyboardMap();
    void finishOnboarding();
    void tellWhereTheAppWent();
    void makeMenuPanelModel();
    void makeMenuPanel();
    // Dims the tray icon while no trigger can start a take and, once dictation is handed over,
    // tells the user once per launch.
    void followTriggerReach();

    AppServices &m_services;
    LaunchOrder m_order;
    bool m_scenesFinished = false;
    rt::Lifetime m_lifetime;
    DepthStore m_depth;
    ZEPAquarnAppDelegate m_delegate;
    AppWindowModel m_windowModel;
    MotionStore m_motion;
    std::unique_ptr<AppearanceService> m_appearance;
    std::unique_ptr<Motion> m_animations;
    bool m_needsOnboarding = true;
    TaskbarPresence m_taskbarPresence = TaskbarPresence::hidden;
    std::unique_ptr<DictationController> m_controller;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<MilestoneStore> m_milestones;
    std::unique_ptr<MenuPanelModel> m_menuPanelModel;
    std::unique_ptr<MenuBarExtra> m_menuBarExtra;
    QWidget *m_menuPanelHost = nullptr; // owned by the tray extra's popup
    MenuPanel *m_menuPanel = nullptr;   // owned by its host
    SettingsModelFactory m_makeSettingsModel;
    std::function<void(QWidget &window, bool shown)> m_setTaskbarPresence;
    std::unique_ptr<AppSettingsModel> m_settingsModel;
    std::unique_ptr<AppWindowView> m_mainWindow;
    MemoryRelease m_memory;
    rt::WorkItem m_desktopIconInstall;
    // How the user left a window that was let go, for the one built when it opens again.
    std::optional<AppWindowKept> m_releasedWindow;
    std::unique_ptr<SettingsShortcut> m_settingsShortcut;
    std::unique_ptr<OnboardingView> m_onboardingWindow;
    std::unique_ptr<TriggerReach> m_triggerReach;
    bool m_triggerNoticeSent = false;
    bool m_terminated = false;
};

} // namespace zq
