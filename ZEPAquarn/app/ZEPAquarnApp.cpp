#include "app/ZEPAquarnApp.h"

#include "app/AppearanceService.h"
#include "app/DesktopIcon.h"
#include "app/TriggerKeyMigration.h"
#include "audio/AudioDuringDictationController.h"
#include "audio/AudioInputDevice.h"
#include "menubar/MenuBarExtra.h"
#include "menubar/MenuPanel.h"
#include "menubar/MenuPanelModel.h"
#include "menubar/brand/AppIcon.h"
#include "menubar/brand/Motion.h"
#include "pipeline/DictationController.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerBinding.h"
#include "pipeline/TriggerReach.h"
#include "platform/TrayPanel.h"
#include "platform/UserNotifications.h"
#include "records/StatsStore.h"
#include "rewards/depth/DepthGaugeView.h"
#include "rewards/milestones/MilestoneStore.h"
#include "rewards/motion/PillAnimationGalleryView.h"
#include "rewards/stats/LedgerCard.h"
#include "rewards/stats/StatsPage.h"
#include "rewards/stats/StatsPageModel.h"
#include "runtime/FileOps.h"
#include "runtime/Log.h"
#include "runtime/Settings.h"
#include "runtime/Task.h"
#include "window/AppWindowView.h"
#include "window/SettingsShortcut.h"
#include "window/history/HistoryCopy.h"
#include "window/history/HistoryPage.h"
#include "window/history/HistoryPageModel.h"
#include "window/onboarding/OnboardingView.h"
#include "window/recorder/TriggerBindingRecorderView.h"
#include "window/settings/AppSettingsModel.h"
#include "window/support/SupportPage.h"
#include "window/support/SupportPageModel.h"

#include <QApplication>
#include <QDateTime>
#include <QIcon>
#include <QPointer>
#include <QUuid>
#include <QVBoxLayout>
#include <QWidget>

namespace zq {

namespace {

// How long a launch that shows the tray icon first leaves the loop to the icon: a tray host embeds
// and maps a new icon within a few milliseconds, a busy one within tens.
constexpr rt::Nanos kTrayIconSettle = rt::seconds(0.05);

std::vector<AppWindowHandle> topLevelWindows()
{
    std::vector<AppWindowHandle> windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (!widget->isWindow() || widget->windowType() == Qt::Popup)
            continue;
        QPointer<QWidget> guarded(widget);
        windows.push_back({widget->objectName(), widget->windowTitle(), [guarded] {
                               if (!guarded)
                                   return;
                               guarded->show();
                               guarded->raise();
                               guarded->activateWindow();
                           }});
    }
    return windows;
}

// Says which of the user's files could not be used, that the application started without it, and
// where the original is, so nothing seems to vanish without a word.
void tellOfKeptAsideFile(platform::UserNotifications &center, const rt::KeptAsideFile &file)
{
    center.requestAuthorization([&center, file](bool granted) {
        if (!granted)
            return;
        const QString what = file.what == QLatin1String("incident") ? QStringLiteral("incidents") : file.what;
        platform::UserNotificationContent content;
        content.title = QStringLiteral("Couldn't read your %1").arg(what);
        content.body =
            QStringLiteral("Your %1 file %2, so ZEPA QUARN started fresh. The old file is kept as %3.")
                .arg(what,
                     file.reason == rt::KeptAsideFile::Reason::tooLarge ? QStringLiteral("was too large to read")
                                                                        : QStringLiteral("could not be read"),
                     file.keptPath);
        center.add(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), content);
        qCInfo(lcApp).noquote() << "app: told the user that the" << file.what << "file is kept as" << file.keptPath;
    });
}

} // namespace

void tellOfKeptAsideFiles(rt::MainLoop &loop, platform::UserNotifications &center,
                          const std::vector<std::optional<rt::KeptAsideFile>> &files)
{
    for (const std::optional<rt::KeptAsideFile> &file : files) {
        if (file)
            loop.post([&center, file = *file] { tellOfKeptAsideFile(center, file); });
    }
}

ZEPAquarnApp::ZEPAquarnApp(AppServices &services, LaunchOrder order, QObject *parent)
    : QObject(parent), m_services(services), m_order(order), m_depth(services.settings, services.invites),
      m_delegate(m_depth), m_windowModel(services.loop, topLevelWindows,
                                         [] {
                                             // Bringing a tray application forward means raising its window; nothing
                                             // else to activate.
                                         }),
      m_motion(services.settings), m_memory(services.loop, services.trimMemory)
{
    rt::Settings &settings = services.settings;
    m_triggerReach = std::make_unique<TriggerReach>(settings, [this] { return keyboardMap(); });

    m_appearance = std::make_unique<AppearanceService>(settings, services.desktopAppearance, &services.application);
    m_animations = std::make_unique<Motion>(services.loop);
    const auto followReduceMotion = [this] { m_animations->setAnimationsOff(m_appearance->reduceMotion()); };
    followReduceMotion();
    connect(m_appearance.get(), &AppearanceService::changed, m_animations.get(), followReduceMotion);

    migrateTriggerKeyToSecondary(settings);

    // Whether the main window shows in the taskbar and window switcher; the tray icon always shows.
    m_taskbarPresence = settings.boolValue(keys::showInDock) ? TaskbarPresence::shown : TaskbarPresence::hidden;

    m_needsOnboarding = !settings.boolValue(keys::onboarded);

    if (m_order == LaunchOrder::allAtOnce)
        constructController();
}

void ZEPAquarnApp::constructController()
{
    if (m_controller)
        return;
    if (m_services.startDiagnostics)
        m_services.startDiagnostics();

    m_controller = m_services.makeController();

    if (!m_needsOnboarding)
        m_controller->ensureHotkeyTapRunning();

    connect(&m_services.application, &QCoreApplication::aboutToQuit, this, &ZEPAquarnApp::applicationWillTerminate);

    // "Settings…" answers Ctrl+comma in every window of the application.
    m_settingsShortcut = std::make_unique<SettingsShortcut>([this] { openSettings(); });
    m_services.application.installEventFilter(m_settingsShortcut.get());
}

void ZEPAquarnApp::setSettingsServices(SettingsModelFactory makeModel,
                                       std::function<void(QWidget &window, bool shown)> setTaskbarPresence)
{
    m_makeSettingsModel = std::move(makeModel);
    m_setTaskbarPresence = std::move(setTaskbarPresence);
}

ZEPAquarnApp::~ZEPAquarnApp()
{
    // Views observe the controller: they go first.
    m_services.application.removeEventFilter(m_settingsShortcut.get());
    m_onboardingWindow.reset();
    m_mainWindow.reset();
    m_settingsModel.reset();
    m_menuBarExtra.reset();
    m_menuPanel = nullptr;
    m_menuPanelHost = nullptr;
    m_menuPanelModel.reset();
    m_milestones.reset();
    // Whatever the controller still says as it goes would reach a member already cleared.
    if (m_controller)
        disconnect(m_controller.get(), nullptr, this, nullptr);
    m_controller.reset();
    m_updater.reset();
}

void ZEPAquarnApp::showScenes()
{
    showTrayIcon();
    if (m_order == LaunchOrder::allAtOnce || !m_menuBarExtra->isAvailable()) {
        finishLaunching();
        return;
    }
    // The icon is on its way: the rest of the launch waits until the tray host has had the moment it
    // takes to embed it and the loop to paint it, then runs a step per turn of the loop.
    m_services.loop.postDelayed(kTrayIconSettle, m_lifetime.guard([this] {
        constructController();
        m_services.loop.post(m_lifetime.guard([this] { finishLaunching(); }));
    }));
}

void ZEPAquarnApp::finishLaunching()
{
    if (!m_menuBarExtra)
        showTrayIcon();
    constructController();
    finishScenes();
}

void ZEPAquarnApp::showTrayIcon()
{
    MenuBarExtra::Commands commands;
    commands.checkForUpdates = [this] {
        if (m_updater)
            m_updater->checkForUpdates();
    };
    commands.isCheckingForUpdates = [this] { return m_updater && m_updater->isChecking(); };
    commands.openSettings = [this] { openSettings(); };
    commands.quit = [] { QApplication::quit(); };
    m_menuBarExtra = std::make_unique<MenuBarExtra>(std::move(commands), m_services.trayPanel);
    // Before the controller exists the icon shows what it will: dimmed only while onboarding keeps
    // the trigger off. A trigger that then fails to start dims it as it does at any time.
    m_menuBarExtra->setTapRunning(m_controller ? m_controller->tapRunning() : !m_needsOnboarding);
    m_menuBarExtra->setTriggerSeen(m_triggerReach->canStartTake());
    const auto followScheme = [this] { m_menuBarExtra->setColorScheme(m_appearance->colorScheme()); };
    followScheme();
    connect(m_appearance.get(), &AppearanceService::changed, m_menuBarExtra.get(), followScheme);
    // The icon first; the popup behind it is made just after, before the loop can deliver a click.
    if (m_menuBarExtra->isAvailable())
        m_menuBarExtra->show();
    // The tray's own colours are read on the loop's next turn, off the way to the icon: the ring takes
    // them before the tray host has embedded and painted it.
    if (m_services.trayPanel)
        m_services.loop.post(m_lifetime.guard([this] { m_services.trayPanel->start(); }));
    // The panel is made when it first opens; its host is in the popup from the start.
    m_menuPanelHost = new QWidget;
    auto *hostColumn = new QVBoxLayout(m_menuPanelHost);
    hostColumn->setContentsMargins(0, 0, 0, 0);
    m_menuBarExtra->setPanel(m_menuPanelHost, [this] {
        finishLaunching();
        makeMenuPanel();
        m_menuPanel->appear();
        m_menuPanel->refresh();
    });
    m_memory.releaseWhileHidden(*m_menuBarExtra->panel(), kHiddenPanelWindowKept,
                                [this] { releaseHiddenPanelWindow(); });
}

void ZEPAquarnApp::finishScenes()
{
    if (m_scenesFinished)
        return;
    m_scenesFinished = true;
    // The update service starts with the scenes that show it, after the defaults are registered. On a
    // first launch its automatic check waits for the Welcome window: a check the user never asked for
    // must not leave its failure on a Support page before they have even finished setting up.
    if (!m_updater && m_services.makeUpdater)
        m_updater = m_services.makeUpdater(m_needsOnboarding ? UpdaterStart::held : UpdaterStart::now);

    m_menuBarExtra->setTapRunning(m_controller->tapRunning());
    connect(m_controller.get(), &DictationController::tapRunningChanged, m_menuBarExtra.get(),
            [this] { m_menuBarExtra->setTapRunning(m_controller->tapRunning()); });
    // The ring shows the failure state while the pill shows a failure.
    const auto followFailure = [this] {
        m_menuBarExtra->setFailing(m_controller->pillState().is(PillState::Kind::muted));
    };
    followFailure();
    connect(m_controller.get(), &DictationController::pillStateChanged, m_menuBarExtra.get(), followFailure);
    connect(m_controller.get(), &DictationController::pillStateChanged, this, &ZEPAquarnApp::followPillForMemory);
    makeMenuPanelModel();
    connect(m_triggerReach.get(), &TriggerReach::changed, this, &ZEPAquarnApp::followTriggerReach);
    followTriggerReach();

    // The tray label has appeared: install the delegate's hooks, which give the application its icon
    // before any window maps (a window that maps without one shows a generic icon at first).
    wireAppDelegate();
    if (!m_menuBarExtra->isAvailable()) {
        qCWarning(lcApp) << "app: no system tray host found — opening the main window instead";
        openMainWindow();
    }

    if (m_needsOnboarding) {
        platform::PermissionProbe &probe = m_services.permissionProbe;
        const TriggerRecorderServices recorder{m_services.loop, &m_services.recordingGate,
                                               [&probe] { return probe.keyboardMap(); }};
        auto *model = new OnboardingModel(m_services.settings, probe, m_services.loop, [this] { finishOnboarding(); });
        m_onboardingWindow =
            std::make_unique<OnboardingView>(*model, makeSettingsTriggerRecorder(recorder, m_services.settings));
        model->setParent(m_onboardingWindow.get());
        m_animations->provide(*m_onboardingWindow);
        m_onboardingWindow->show();
        m_onboardingWindow->raise();
        m_onboardingWindow->activateWindow();
    }

    // The only automatic refresh of the invite progress; its result shows through the store.
    rt::spawn(m_services.loop, m_depth.refreshProgress());
}

// The panel's model follows the settings from the start (it keeps the language valid when the
// engine changes); the panel itself is made when it first opens.
void ZEPAquarnApp::makeMenuPanelModel()
{
    m_milestones = std::make_unique<MilestoneStore>(m_services.settings);
    MenuPanelModel::Services services{*m_controller, m_services.settings, m_services.loop};
    services.updater = m_updater.get();
    services.milestones = m_milestones.get();
    services.appWindow = &m_windowModel;
    services.openWindow = [this] { openMainWindow(); };
    services.quit = [] { QApplication::quit(); };
    services.listInputDevices = [&hardware = m_services.hardware] {
        return AudioInputDevice::listInputDevices(hardware);
    };
    services.triggerReach = m_triggerReach.get();
    services.openTriggerSettings = [this] { openTriggerSettings(); };
    services.languages = m_services.languages;
    services.copyText = [&pasteboard = m_services.pasteboard](const std::optional<QString> &text) {
        return copyHistoryText(pasteboard, text);
    };
    m_menuPanelModel = std::make_unique<MenuPanelModel>(std::move(services));
}

void ZEPAquarnApp::makeMenuPanel()
{
    if (m_menuPanel)
        return;
    m_menuPanel = new MenuPanel(*m_menuPanelModel, m_menuPanelHost);
    m_menuPanelHost->layout()->addWidget(m_menuPanel);
    m_animations->provide(*m_menuPanel);
}

void ZEPAquarnApp::wireAppDelegate()
{
    m_delegate.setPrepareToTerminate([this] {
        // Before anything else: a take not yet transcribed would be lost with the process.
        m_controller->keepInterruptedTake();
        m_controller->cancelRecoveredTranscription();
        m_services.audioDuringDictation.end();
    });
    m_delegate.setWearColorway([this](Colorway colorway) { applyWearColorway(colorway); });
}

void ZEPAquarnApp::applyWearColorway(Colorway colorway)
{
    if (PillDisplay *pill = m_controller->pill())
        pill->setColorway(colorway);
    // A missing icon asset leaves the current icon in place.
    const QIcon icon = appIconAsset(appIconName(colorway));
    if (icon.isNull())
        return;
    QApplication::setWindowIcon(icon);
    if (m_services.desktopIconsFolder.isEmpty())
        return;
    // The files follow once the windows wear it, off the launch's way; a quick change of mind
    // writes only the last colorway.
    m_desktopIconInstall.cancel();
    m_desktopIconInstall = m_services.loop.postDelayed(rt::Nanos::zero(), m_lifetime.guard([this, icon] {
        if (const auto installed = DesktopIcon(m_services.desktopIconsFolder).install(icon); !installed)
            qCWarning(lcApp).noquote() << "app: the icon for the desktop was not written:" << installed.error().message;
    }));
}

void ZEPAquarnApp::openMainWindow()
{
    finishLaunching();
    if (!m_mainWindow) {
        if (m_makeSettingsModel && !m_settingsModel) {
            m_settingsModel = m_makeSettingsModel(*m_controller, [this](bool shown) { applyShowInDock(shown); });
            if (m_settingsModel)
                m_settingsModel->setTriggerReach(m_triggerReach.get());
        }
        AppWindowView::Pages pages;
        pages.stats = [this](QWidget *parent) { return makeStatsPage(parent); };
        pages.settings.animationGallery = [this](QWidget *parent) -> QWidget * {
            StatsStore &stats = m_controller->stats();
            auto *gallery = new PillAnimationGalleryView(m_motion, stats.lifetimeReclaimed(),
                                                         m_depth.effectiveColorway(), {}, parent);
            connect(&stats, &StatsStore::daysChanged, gallery,
                    [gallery, &stats] { gallery->setLifetimeReclaimed(stats.lifetimeReclaimed()); });
            const auto wear = [this, gallery] { gallery->setColorway(m_depth.effectiveColorway()); };
            connect(&m_depth, &DepthStore::selectionChanged, gallery, wear);
            connect(&m_depth, &DepthStore::unlockedChanged, gallery, wear);
            return gallery;
        };
        // General → Appearance ends with the colorway gauge, the only place that creates invite links.
        pages.settings.depthGauge = [this](QWidget *parent) -> QWidget * {
            return new DepthGaugeView(m_depth, m_services.loop, &m_services.pasteboard, parent);
        };
        pages.history = [this](QWidget *parent) { return makeHistoryPage(parent); };
        pages.settings.support = [this](QWidget *parent) { return makeSupportPage(parent); };
        // General → Trigger holds the same recorder as the first-run window.
        pages.settings.triggerRecorder = [this](QWidget *parent) -> QWidget * {
            platform::PermissionProbe &probe = m_services.permissionProbe;
            const TriggerRecorderServices recorder{m_services.loop, &m_services.recordingGate,
                                                   [&probe] { return probe.keyboardMap(); }};
            return makeSettingsTriggerRecorder(recorder, m_services.settings, parent);
        };
        m_mainWindow = std::make_unique<AppWindowView>(m_windowModel, m_controller->incidents(), m_updater.get(),
                                                       m_settingsModel.get(), std::move(pages));
        m_animations->provide(*m_mainWindow);
        m_memory.releaseWhileHidden(*m_mainWindow, kClosedWindowKept, [this] { releaseClosedWindow(); });
        // Where the user left the window that was let go, and what they were searching for.
        if (m_releasedWindow) {
            m_mainWindow->restore(*m_releasedWindow);
            m_releasedWindow.reset();
        }
        // Never larger than the screen it opens on (a scaled desktop can be smaller than the design's size).
        m_mainWindow->fitScreen();
    }
    m_windowModel.activateApp();
    // The taskbar hint goes on before the window maps: set after, a hidden window flashes in the taskbar.
    applyShowInDock(m_taskbarPresence == TaskbarPresence::shown);
    m_mainWindow->show();
    m_windowModel.showWindow(0);
}

void ZEPAquarnApp::releaseClosedWindow()
{
    if (!m_mainWindow || m_mainWindow->isVisible())
        return;
    qCInfo(lcApp) << "app: the main window stayed closed — its pages are let go until it opens again";
    // The settings model is state, not a view: the next window shows it as it is. What only the
    // window holds goes with the application.
    m_releasedWindow = m_mainWindow->kept();
    m_mainWindow.reset();
    m_memory.releaseWindowMemory();
}

void ZEPAquarnApp::releaseHiddenPanelWindow()
{
    if (m_menuBarExtra->panel()->isVisible() || !m_menuBarExtra->panel()->windowHandle())
        return;
    qCInfo(lcApp) << "app: the tray panel stayed hidden — its window is given back until it opens again";
    m_menuBarExtra->releaseHiddenPanel();
}

void ZEPAquarnApp::followPillForMemory()
{
    if (m_controller->pillState().is(PillState::Kind::hidden))
        m_memory.trimAfter(kFinishedTakeMemoryKept);
    else
        m_memory.cancelTrim();
}

std::optional<platform::KeyboardMap> ZEPAquarnApp::keyboardMap()
{
    return m_controller ? m_services.permissionProbe.keyboardMap() : m_services.launchKeyboardMap;
}

QWidget *ZEPAquarnApp::makeStatsPage(QWidget *parent)
{
    LedgerExporter exporter{std::make_shared<LedgerImageRenderer>(),
                            std::make_shared<LedgerPasteboard>(m_services.pasteboard), QLocale()};
    auto model = std::make_unique<StatsPageModel>(m_controller->stats(), m_services.settings, m_services.loop,
                                                  std::move(exporter), QDateTime::currentDateTime());
    // The page wears the effective colorway and prints the invite link as they change.
    model->setColorway(m_depth.effectiveColorway());
    model->setInviteCode(m_depth.code());
    model->setUnlockAnnouncements(&m_motion);
    StatsPageModel *watched = model.get();
    const auto follow = [this, watched] {
        watched->setColorway(m_depth.effectiveColorway());
        watched->setInviteCode(m_depth.code());
    };
    connect(&m_depth, &DepthStore::selectionChanged, watched, follow);
    connect(&m_depth, &DepthStore::unlockedChanged, watched, follow);
    connect(&m_depth, &DepthStore::inviteStateChanged, watched, follow);
    auto *page = new StatsPage(*watched, parent);
    model.release()->setParent(page);
    return page;
}

QWidget *ZEPAquarnApp::makeHistoryPage(QWidget *parent)
{
    auto *model = new HistoryPageModel(m_controller->history(), m_services.pasteboard, m_services.loop);
    auto *page = new HistoryPage(*model, parent);
    model->setParent(page);
    return page;
}

QWidget *ZEPAquarnApp::makeSupportPage(QWidget *parent)
{
    auto *model =
        new SupportPageModel({*m_controller, m_controller->incidents(), m_updater.get(), m_services.revealDiagnostics});
    auto *page = new SupportPage(*model, {m_services.pasteboard, m_services.loop}, parent);
    model->setParent(page);
    return page;
}

void ZEPAquarnApp::applyShowInDock(bool shown)
{
    m_taskbarPresence = shown ? TaskbarPresence::shown : TaskbarPresence::hidden;
    if (m_mainWindow && m_setTaskbarPresence)
        m_setTaskbarPresence(*m_mainWindow, shown);
}

void ZEPAquarnApp::openSettings()
{
    m_windowModel.setSelection(AppWindowSection::general);
    openMainWindow();
}

void ZEPAquarnApp::openTriggerSettings()
{
    openSettings();
    if (m_mainWindow && m_mainWindow->focusTriggerRecorder())
        qCInfo(lcApp) << "app: settings opened at the trigger recorder";
}

void ZEPAquarnApp::finishOnboarding()
{
    m_controller->ensureHotkeyTapRunning();
    if (m_onboardingWindow)
        m_onboardingWindow->close();
    if (m_updater)
        m_updater->start();
    followTriggerReach();
    tellWhereTheAppWent();
}

// With the Welcome window gone and no window left, the application seems to vanish: say once where
// it lives and which key dictates. Without a tray the main window is open already, and a trigger
// that cannot be seen has its own notice.
void ZEPAquarnApp::tellWhereTheAppWent()
{
    if (!m_menuBarExtra || !m_menuBarExtra->isAvailable() || !m_triggerReach->canStartTake())
        return;
    const QString key = TriggerBinding::fromStorageValue(m_services.settings.stringValue(keys::triggerKey))
                            .value_or(TriggerBinding::predefined(TriggerKey::fn))
                            .displayName();
    platform::UserNotifications *center = &m_services.notifications;
    center->requestAuthorization([center, key](bool granted) {
        if (!granted)
            return;
        platform::UserNotificationContent content;
        content.title = QStringLiteral("ZEPA QUARN is in the tray");
        content.body = QStringLiteral("Its icon in the system tray opens the menu and settings. Hold %1, speak, "
                                      "and release to dictate.")
                           .arg(key);
        center->add(QStringLiteral("io.quorvane.zepaquarn.onboarding-done"), content);
        qCInfo(lcApp) << "app: told the user where the application lives";
    });
}

void ZEPAquarnApp::followTriggerReach()
{
    const bool canStart = m_triggerReach->canStartTake();
    if (m_menuBarExtra)
        m_menuBarExtra->setTriggerSeen(canStart);
    if (canStart)
        return;
    qCWarning(lcApp) << "app: no trigger in force reaches this desktop — Fn alone, and no key gives Fn";
    // The Welcome window says so itself; after it, dictation counts as handed over.
    if (m_triggerNoticeSent || !m_services.settings.boolValue(keys::onboarded))
        return;
    platform::UserNotifications *center = &m_services.notifications;
    m_triggerNoticeSent = true;
    center->requestAuthorization([center](bool granted) {
        if (!granted)
            return;
        platform::UserNotificationContent content;
        content.title = QStringLiteral("No key starts dictation");
        content.body = QStringLiteral("Fn never reaches this desktop, and it is your only trigger. Choose another "
                                      "key in ZEPA QUARN's settings under General → Trigger.");
        center->add(QStringLiteral("io.quorvane.zepaquarn.trigger-unseen"), content);
        qCInfo(lcApp) << "app: told the user that no key starts dictation";
    });
}

void ZEPAquarnApp::applicationLostDisplay()
{
    if (m_terminated)
        return;
    m_terminated = true;
    m_delegate.applicationWillTerminate();
}

void ZEPAquarnApp::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    m_delegate.applicationWillTerminate();
    // An update downloaded in the background is installed as the application quits.
    if (m_updater)
        m_updater->framework().applicationWillTerminate();
}

} // namespace zq
