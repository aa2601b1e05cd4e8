#include "app/AppServices.h"
#include "app/AppearanceService.h"
#include "app/DesktopIcon.h"
#include "app/LazyUpdateUserDriver.h"
#include "app/X11Session.h"
#include "app/ZEPAquarnApp.h"
#include "audio/AudioDuringDictationController.h"
#include "audio/AudioDuringDictationSystemBackend.h"
#include "audio/AudioEngine.h"
#include "audio/BoundedHALExecutor.h"
#include "audio/CaptureCore.h"
#include "menubar/PillPanelWindow.h"
#include "menubar/brand/Compositor.h"
#include "menubar/brand/Palette.h"
#include "pipeline/BackendFactory.h"
#include "pipeline/DictationController.h"
#include "pipeline/GatedEventTap.h"
#include "pipeline/LanguageCatalogue.h"
#include "pipeline/Paster.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/SoundCuePlayer.h"
#include "pipeline/TriggerReach.h"
#include "pipeline/TriggerRecordingGate.h"
#include "platform/linux/LinuxPermissionProbe.h"
#include "platform/linux/QtHttpClient.h"
#include "platform/linux/appcast/AppcastUpdateFramework.h"
#include "platform/linux/freedesktop/AtspiAnnouncer.h"
#include "platform/linux/freedesktop/FreedesktopNotifications.h"
#include "platform/linux/freedesktop/FreedesktopScreenLock.h"
#include "platform/linux/freedesktop/LibsecretStore.h"
#include "platform/linux/freedesktop/MprisMediaPlayers.h"
#include "platform/linux/freedesktop/PortalDesktopAppearance.h"
#include "platform/linux/freedesktop/XdgAutostartEntry.h"
#include "platform/linux/pulse/DesktopMicrophonePermission.h"
#include "platform/linux/pulse/PulseAudioHardware.h"
#include "platform/linux/pulse/PulseAudioPlayer.h"
#include "platform/linux/pulse/PulseOutputVolume.h"
#include "platform/linux/speech/MultiLanguageRecognizer.h"
#include "platform/linux/speech/PocketSphinxModelFolder.h"
#include "platform/linux/speech/PocketSphinxRecognizer.h"
#include "platform/linux/x11/X11Connection.h"
#include "platform/linux/x11/X11DisplayHold.h"
#include "platform/linux/x11/X11EscapeKeyGrab.h"
#include "platform/linux/x11/X11EventTap.h"
#include "platform/linux/x11/X11FrontWindow.h"
#include "platform/linux/x11/X11KeySynthesizer.h"
#include "platform/linux/x11/X11KeyboardMap.h"
#include "platform/linux/x11/X11Pasteboard.h"
#include "platform/linux/x11/X11SyntheticKeys.h"
#include "platform/linux/x11/X11TaskbarPresence.h"
#include "platform/linux/x11/X11TrayPanel.h"
#include "platform/linux/x11/X11WindowCompositing.h"
#include "records/Diagnostics.h"
#include "records/HistoryStore.h"
#include "records/IncidentStore.h"
#include "records/StatsStore.h"
#include "records/StoreWriter.h"
#include "rewards/depth/InviteService.h"
#include "rewards/updates/Updater.h"
#include "rewards/updates/UpdaterDialogs.h"
#include "runtime/BoundedCall.h"
#include "runtime/Clocks.h"
#include "runtime/Log.h"
#include "runtime/Paths.h"
#include "runtime/QtMainLoop.h"
#include "runtime/QuitDeadline.h"
#include "runtime/SerialQueue.h"
#include "runtime/Settings.h"
#include "runtime/SingleInstance.h"
#include "runtime/StartupCleanup.h"
#include "runtime/UnixSignals.h"
#include "transcription/Keychain.h"
#include "transcription/OpenAIBackend.h"
#include "transcription/RuleBasedCleanupModel.h"
#include "transcription/TranscriptCleanup.h"
#include "window/settings/AppSettingsModel.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>
#include <QWidget>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>

using namespace zq;

namespace {

// How long a quit, or the settling after a lost display, may take from its start: the last writes of
// the stores, the settings and the journal (milliseconds on a working disk), an update's install and
// the threads' ends (the speech model's load in flight, under a second). Past it the process ends
// without what is left, so a folder that stopped answering (a hung network home) cannot keep it.
constexpr std::chrono::seconds kQuitWait{5};

// How long the start waits for its folders and their locks: a slow network home answers within it, one
// that stopped answering never does.
constexpr std::chrono::seconds kFolderWait{15};

// The desktop's cache folder ($XDG_CACHE_HOME): the speech model's derived files, and the fonts' cache.
QString genericCacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
}

// The language whose model the first take will most likely need: the chosen one, or the system's.
QString expectedLanguage(const rt::Settings &settings)
{
    const QString chosen = settings.stringValue(keys::language);
    if (chosen != QLatin1String("auto"))
        return chosen;
    const QLocale system = QLocale::system();
    // The C/POSIX locale of minimal sessions names no language; its messages are English.
    return system.language() == QLocale::C ? QStringLiteral("en") : QLocale::languageToCode(system.language());
}

// The recogniser over every installed model; none loads until asked.
std::shared_ptr<platform::MultiLanguageRecognizer>
makeRecognizer(const std::vector<platform::InstalledSpeechModel> &models, const rt::Paths &paths)
{
    std::vector<platform::MultiLanguageRecognizer::Model> recognizers;
    for (const platform::InstalledSpeechModel &model : models) {
        // English keeps the file name of the days when it was the only model.
        const QString estimate = paths.stateDir() + (model.locale == QLatin1String("en-US")
                                                         ? QStringLiteral("/speech-channel.json")
                                                         : QStringLiteral("/speech-channel-%1.json").arg(model.locale));
        // Derived files the model loads faster from, made again whenever they are missing.
        const QString cache = genericCacheFolder() + QStringLiteral("/ZEPAquarn");
        recognizers.push_back({model.locale, [files = model.files, estimate, cache] {
                                   return std::make_shared<platform::PocketSphinxRecognizer>(
                                       files, platform::PocketSphinxRecognizer::Preload::atOnce, estimate, cache);
                               }});
    }
    return std::make_shared<platform::MultiLanguageRecognizer>(std::move(recognizers));
}

// The languages of the speech models installed here, as the pickers offer them.
LanguageCatalogue languageCatalogue(const std::vector<platform::InstalledSpeechModel> &models)
{
    QStringList codes;
    for (const platform::InstalledSpeechModel &model : models)
        codes.append(model.language());
    return LanguageCatalogue(codes);
}

// What every notice shows as the application's icon: the one the application writes for the desktop.
QString notificationIcon()
{
    return DesktopIcon(DesktopIcon::defaultIconsFolder()).notificationIcon();
}

// The real back-ends, made before the application and kept until after it is gone. Nothing here
// reads a file, connects or starts a thread while it is made: the tray panel starts before the tray
// icon, the audio server's connection once the icon is up (start()), the rest with their first use.
struct LinuxServices {
    LinuxServices(rt::MainLoop &loop, rt::Clocks &clocks, const rt::Paths &paths,
                  std::shared_ptr<platform::SpeechRecognizer> recognizer,
                  std::shared_ptr<const platform::HttpClient> http)
        : audioDuringDictation(std::make_unique<AudioDuringDictationSystemBackend>(loop, volume, media)),
          keySynthesizer(ownKeys),
          paster(pasteboard, keySynthesizer, screenLock, loop, Paster::Options{&primarySelection, &frontWindow}),
          eventTap(ownKeys), triggerSource(eventTap, recordingGate), permissionProbe(hardware),
          keychain(std::make_shared<platform::LibsecretStore>()),
          cleanup(std::make_shared<RuleBasedCleanupModel>(), clocks), trayPanel(qgetenv("DISPLAY"), loop)
    {
        backends.loop = &loop;
        backends.recognizer = std::move(recognizer);
        backends.openAI.uploadDir = paths.takeDir();
        backends.openAI.readAPIKey = [this] { return keychain.readStoredAPIKey(); };
        backends.openAI.http = std::move(http);
    }

    void start() { hardware.start(); }

    platform::PulseAudioHardware hardware;
    platform::PulseAudioPlayerFactory players;
    platform::PulseOutputVolume volume;
    platform::MprisMediaPlayers media;
    AudioDuringDictationController audioDuringDictation;
    // One list of our own synthetic keys, shared, so the tap never sees our Ctrl+V.
    std::shared_ptr<platform::X11SyntheticKeys> ownKeys = std::make_shared<platform::X11SyntheticKeys>();
    platform::X11Pasteboard pasteboard;
    platform::X11Pasteboard primarySelection{platform::X11Pasteboard::Selection::primary};
    platform::X11FrontWindow frontWindow;
    platform::X11KeySynthesizer keySynthesizer;
    platform::FreedesktopScreenLock screenLock;
    Paster paster;
    platform::X11EventTap eventTap;
    TriggerRecordingGate recordingGate;
    // What the dictation trigger listens to: nothing pressed while a trigger recorder records.
    GatedEventTap triggerSource;
    platform::X11EscapeKeyGrab escapeGrab;
    platform::LinuxPermissionProbe permissionProbe;
    platform::DesktopMicrophonePermission microphone;
    platform::FreedesktopNotifications notifications{QDBusConnection::sessionBus(), notificationIcon()};
    platform::AtspiAnnouncer announcer;
    Keychain keychain;
    TranscriptCleanup cleanup;
    BackendEnvironment backends;
    platform::XdgAutostartEntry autostart = platform::XdgAutostartEntry::forCurrentUser();
    platform::X11TrayPanel trayPanel;
};

// What the controller records, plays and keeps with, made with it once the tray icon is up: the
// stores read their files, the engine follows the devices, the cues decode their sounds.
struct DictationParts {
    DictationParts(LinuxServices &s, rt::MainLoop &loop, rt::Clocks &clocks, rt::Settings &settings,
                   const rt::Paths &paths)
        : engine({loop,
                  clocks,
                  settings,
                  s.hardware,
                  [&s](CaptureCoreKind kind) { return makeCaptureCore(kind, sharedCaptureCoreServices(s.hardware)); },
                  paths.takeDir(),
                  nullptr,
                  {}}),
          stores(DictationStores::open(paths, clocks)), cues(settings, s.players)
    {
        engine.setTakeFileCloser(&takeFiles);
    }

    // Closes the takes' files off the main thread; made before the engine, so it outlives it.
    rt::SerialQueue takeFiles{QStringLiteral("io.quorvane.zepaquarn.take-files")};
    AudioEngine engine;
    DictationStores stores;
    SoundCuePlayer cues;
};

std::unique_ptr<AppSettingsModel> makeSettingsModel(LinuxServices &s, DictationController &controller,
                                                    rt::MainLoop &loop, rt::Clocks &clocks, rt::Settings &settings,
                                                    const rt::Paths &paths, const LanguageCatalogue &languages,
                                                    std::function<void(bool)> applyShowInDock)
{
    AppSettingsModel::Dependencies deps{
        loop,
        settings,
        controller.incidents(),
        controller.audio(),
        [&s] { return AudioInputDevice::listInputDevices(s.hardware); },
        // Each microphone test captures on an engine of its own, never dictation's.
        [&s, &loop, &clocks, &settings, takeDir = paths.takeDir()]() -> std::unique_ptr<MicrophoneTestEngine> {
            auto engine = std::make_unique<AudioEngine>(AudioEngine::Dependencies{
                loop,
                clocks,
                settings,
                s.hardware,
                [&s](CaptureCoreKind kind) { return makeCaptureCore(kind, sharedCaptureCoreServices(s.hardware)); },
                takeDir,
                nullptr,
                {}});
            return std::make_unique<AudioEngineMicrophoneTest>(std::move(engine));
        },
        s.keychain,
        s.autostart,
        std::move(applyShowInDock),
        APIKeyTestConfig{OpenAIBackend::serviceBaseUrl(), std::chrono::milliseconds(15000), s.backends.openAI.http},
    };
    deps.languages = languages;
    return std::make_unique<AppSettingsModel>(std::move(deps));
}

std::unique_ptr<DictationController> makeController(LinuxServices &s, DictationParts &parts, rt::MainLoop &loop,
                                                    rt::Clocks &clocks, rt::Settings &settings,
                                                    std::function<Motion &()> animations)
{
    DictationController::Dependencies deps{loop,
                                           clocks,
                                           settings,
                                           parts.engine,
                                           *parts.stores.history,
                                           *parts.stores.incidents,
                                           *parts.stores.stats,
                                           parts.cues,
                                           s.audioDuringDictation,
                                           s.paster,
                                           s.microphone};
    deps.eventSource = &s.triggerSource;
    deps.escapeGrab = &s.escapeGrab;
    deps.notifications = &s.notifications;
    deps.pasteboard = &s.pasteboard;
    deps.announce = [&announcer = s.announcer](const QString &message) { announcer.announce(message); };
    deps.makeBackend = makeBackendFactory(s.backends);
    deps.cleanup = {&TranscriptCleanup::shouldClean, [&cleanup = s.cleanup](QString text, QStringList vocabulary) {
                        return cleanup.clean(std::move(text), std::move(vocabulary));
                    }};
    deps.prewarmOpenAI = [config = s.backends.openAI, &clocks] { OpenAIBackend::prewarmIfNeeded(config, clocks); };
    // The pill reads the engine's levels on the engine's own clocks.
    deps.makePill = [&engine = parts.engine, &loop, &clocks, &settings, animations = std::move(animations)] {
        return std::make_unique<PillPanelWindow>(engine, Colorway::consensusMint,
                                                 PillPanelWindow::Services{loop, clocks, settings, animations()});
    };
    deps.appVersion = QStringLiteral(ZQ_VERSION);
    deps.build = QStringLiteral(ZQ_BUILD);
    return std::make_unique<DictationController>(std::move(deps));
}

// The update framework's windows and the reminder's notifications, kept until after the updater
// is gone; and the executable to start once this process has let go of everything.
struct UpdateServices {
    LazyUpdateUserDriver dialogs{[] { return std::make_unique<UpdaterDialogs>(QStringLiteral(ZQ_VERSION)); }};
    platform::FreedesktopNotifications notifications{QDBusConnection::sessionBus(), notificationIcon()};
    QString relaunchExecutable;
};

std::unique_ptr<Updater> makeUpdater(UpdateServices &s, rt::MainLoop &loop, rt::Clocks &clocks, rt::Settings &settings,
                                     const rt::Paths &paths, std::shared_ptr<const platform::HttpClient> http,
                                     UpdaterStart start)
{
    QString saved = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (saved.isEmpty())
        saved = paths.dataDir() + QStringLiteral("/Updates");
    platform::AppcastUpdateFramework::Environment environment{loop,
                                                              clocks,
                                                              settings,
                                                              s.dialogs,
                                                              std::move(http),
                                                              platform::UpdateFeedConfiguration::forApplication(),
                                                              QStringLiteral(ZQ_BUILD),
                                                              QStringLiteral(ZQ_VERSION),
                                                              QCoreApplication::applicationFilePath(),
                                                              paths.stateDir() + QStringLiteral("/updates"),
                                                              saved,
                                                              QSysInfo::productVersion(),
                                                              [&s](const QString &executable) {
                                                                  s.relaunchExecutable = executable;
                                                                  QApplication::quit();
                                                              }};
    return std::make_unique<Updater>(
        UpdateAvailabilityStore::live(settings), UpdateReminder::live(settings, clocks, loop, s.notifications),
        std::make_unique<platform::AppcastUpdateFramework>(std::move(environment)),
        [&clocks] { return clocks.wallNow(); }, start);
}

// Without X11 nothing here can work: says so on the terminal and, when it can, on the desktop.
int reportNoDisplay(int &argc, char *argv[])
{
    QCoreApplication bare(argc, argv);
    std::fprintf(stderr, "%s\n", qPrintable(X11Session::unavailableMessage()));
    if (!X11Session::notifyUnavailable())
        std::fprintf(stderr, "ZEPA QUARN could not show a desktop notification about it.\n");
    return 1;
}

void describeApplication()
{
    QApplication::setApplicationName(QStringLiteral("ZEPAquarn"));
    QApplication::setApplicationDisplayName(QStringLiteral("ZEPA QUARN"));
    QApplication::setApplicationVersion(QStringLiteral(ZQ_VERSION));
    // The application lives in the tray; closing a window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    // The brand fonts are registered when the first text is set in them, not before the tray icon.
}

// The application's folders, made private and locked for this instance: the start's first calls into
// the user's home.
struct Folders {
    explicit Folders(const rt::Paths &paths) : paths(paths), instance(paths.lockFiles()) {}

    const rt::Paths paths;
    rt::SingleInstance instance;
    rt::Result<void> made;
    rt::SingleInstance::Attempt lock;
};

// Tells the user on the desktop, which a start from the menu or at login has no terminal for; also
// before the toolkit exists. The session bus may live in a folder that stopped answering (the runtime
// folder): past a few seconds the notice is left to itself.
void tellOnDesktop(const QString &title, const QString &body)
{
    constexpr std::chrono::seconds kNoticeWait{5};
    const auto told = std::make_shared<std::atomic<bool>>(false);
    if (!rt::callWithin(kNoticeWait, [told, title, body] { *told = X11Session::notify(title, body); }) || !*told)
        std::fprintf(stderr, "ZEPA QUARN could not show a desktop notification about it.\n");
}

// Folders that did not answer in time (a network home that stopped answering): says so on the terminal
// and on the desktop, instead of a start that hangs without a window, and ends. Nothing of the
// application exists yet, and a teardown would call into the same home.
[[noreturn]] void endForUnansweredFolders()
{
    // Named as the environment gives them: looking whether they exist is what did not answer.
    const rt::Paths paths = rt::Paths::fromEnvironment(rt::Paths::RuntimeFolder::asNamed);
    const QString folders =
        QStringList{paths.dataDir(), paths.stateDir(), paths.configDir(), paths.takeDir(), genericCacheFolder()}.join(
            QStringLiteral(", "));
    std::fprintf(stderr,
                 "ZEPA QUARN cannot start: its folders did not answer within %lld seconds (%s). A network home "
                 "folder that stopped answering does this; start ZEPA QUARN again once it answers.\n",
                 static_cast<long long>(kFolderWait.count()), qPrintable(folders));
    tellOnDesktop(QStringLiteral("ZEPA QUARN cannot reach its folders"),
                  QStringLiteral("They did not answer within %1 seconds, as a network home folder that "
                                 "stopped answering does. Start ZEPA QUARN again once it answers.")
                      .arg(kFolderWait.count()));
    std::fflush(nullptr);
    std::_Exit(1);
}

// Folders that cannot be made or used (a read-only home, a folder of mode 000): says which and why.
int reportUnusableFolders(const QString &why)
{
    std::fprintf(stderr, "ZEPA QUARN cannot create its folders: %s\n", qPrintable(why));
    tellOnDesktop(QStringLiteral("ZEPA QUARN cannot create its folders"), why);
    return 1;
}

// Whether this instance may run, told by the single-instance lock; false when another instance holds
// it. A lock that cannot be made (a read-only folder) is no sign of another instance: the run goes on,
// and says once what is missing.
bool lockInstance(const rt::SingleInstance::Attempt &lock, platform::FreedesktopNotifications &notices)
{
    if (lock.outcome == rt::SingleInstance::Outcome::heldByAnother) {
        std::fprintf(stderr, "ZEPA QUARN is already running.\n");
        return false;
    }
    if (lock.outcome == rt::SingleInstance::Outcome::unavailable) {
        qCWarning(lcApp).noquote() << "app: running without the single-instance lock —" << lock.detail;
        notices.add(QStringLiteral("instance-lock"),
                    {QStringLiteral("ZEPA QUARN cannot lock its folders"),
                     QStringLiteral("It runs, but a second copy started on the same folders would not be "
                                    "stopped. ") +
                         lock.detail});
    }
    return true;
}

// What the application is wired from for the whole run, declared in the order the parts may go.
struct Run {
    Run(QApplication &application, const rt::Paths &paths, rt::Settings &settings,
        std::shared_ptr<platform::SpeechRecognizer> recognizer, const LanguageCatalogue &languages,
        const platform::KeyboardMap &launchKeyboardMap, platform::DesktopAppearance &desktopAppearance)
        : paths(paths), settings(settings), services(loop, clocks, paths, std::move(recognizer), http),
          app{.application = application,
              .loop = loop,
              .settings = settings,
              .hardware = services.hardware,
              .permissionProbe = services.permissionProbe,
              .pasteboard = services.pasteboard,
              .notifications = services.notifications,
              .audioDuringDictation = services.audioDuringDictation,
              .recordingGate = services.recordingGate,
              .startDiagnostics =
                  [this] {
                      // Before anything of this run writes (the journal's first line is the first
                      // write): what killed or interrupted runs left behind.
                      cleanup.run();
                      Diagnostics::shared().start();
                  },
              .makeController =
                  [this] {
                      // The tray icon is up: what the first take needs connects in the background.
                      services.start();
                      dictation = std::make_unique<DictationParts>(services, loop, clocks, this->settings, this->paths);
                      // The settings were read before the application, the stores just now: the user
                      // hears of what either set aside whole.
                      const DictationStores &stores = dictation->stores;
                      tellOfKeptAsideFiles(loop, services.notifications,
                                           {this->settings.keptAside(), stores.history->keptAside(),
                                            stores.stats->keptAside(), stores.incidents->keptAside()});
                      auto controller = makeController(services, *dictation, loop, clocks, this->settings,
                                                       [this]() -> Motion & { return appForPill->animations(); });
                      // What a killed run was recording or transcribing, found by the start-up cleanup.
                      controller->keepLeftoverTakes(cleanup.leftoverTakes());
                      return controller;
                  },
              .makeUpdater =
                  [this](UpdaterStart start) {
                      return makeUpdater(updateServices, loop, clocks, this->settings, this->paths, http, start);
                  },
              .revealDiagnostics = [](RevealDone done) { Diagnostics::shared().revealInFileManager(std::move(done)); },
              .invites = InviteService(http),
              .languages = languages,
              .launchKeyboardMap = launchKeyboardMap,
              .desktopAppearance = &desktopAppearance,
              .trayPanel = &services.trayPanel,
              .desktopIconsFolder = DesktopIcon::defaultIconsFolder()}
    {}

    const rt::Paths &paths;
    rt::Settings &settings;
    // Run once the tray icon is up, just before diagnostics start.
    rt::StartupCleanup cleanup{paths};
    rt::QtMainLoop loop;
    rt::SystemClocks clocks;
    // Every request of the application goes through this one client.
    const std::shared_ptr<const platform::HttpClient> http = std::make_shared<platform::QtHttpClient>();
    LinuxServices services;
    UpdateServices updateServices;
    // Made with the controller, after the tray icon; goes after it.
    std::unique_ptr<DictationParts> dictation;
    // The pill is made on the first take, after the application; it asks it for reduce motion.
    ZEPAquarnApp *appForPill = nullptr;
    AppServices app;
};

void setSettingsServices(ZEPAquarnApp &app, Run &run, const LanguageCatalogue &languages)
{
    app.setSettingsServices(
        [&run, &languages](DictationController &controller, std::function<void(bool)> applyShowInDock) {
            return makeSettingsModel(run.services, controller, run.loop, run.clocks, run.settings, run.paths, languages,
                                     std::move(applyShowInDock));
        },
        [](QWidget &window, bool shown) {
            window.winId(); // makes the native window, so its hint is in place before it maps
            platform::setX11TaskbarPresence(*window.windowHandle(), shown);
        });
}

void saveSettingsAtQuit(QApplication &application, rt::Settings &settings)
{
    QObject::connect(&application, &QApplication::aboutToQuit, &application, [&settings] {
        // The toolkit's teardown waits for background warm-ups: none may hold up the quit.
        OpenAIBackend::stopPrewarms();
        if (const auto saved = settings.sync(); !saved)
            qCWarning(lcApp) << "app: settings not saved at quit:" << saved.error().message;
        qCInfo(lcApp) << "app: terminating";
    });
}

} // namespace

int main(int argc, char *argv[])
{
    // Everything the application creates holds the user's recordings and words: private to them.
    ::umask(077);
    // A peer that closed its end (an X server gone, a reader gone) must come back as a write error
    // the caller reports, not as a signal that ends the process before it can say why.
    std::signal(SIGPIPE, SIG_IGN);

    // The toolkit aborts without a display; without X11 nothing here can work, so say so and stop.
    // The check's connection stays open until the toolkit has its own (see DisplayHold).
    platform::x11::DisplayHold display;
    if (!display.isOpen())
        return reportNoDisplay(argc, argv);
    platform::x11::preferX11();
    // The launch needs the keyboard map before the tray icon (the default trigger, and whether the
    // icon shows a trigger the keyboard can press): read on the check's connection, not a new one.
    const platform::KeyboardMap launchKeyboardMap = platform::x11::readKeyboardMap(display.display());

    // A folder that stopped answering holds every call into it for ever; the call is left to it. The
    // toolkit's start reads the config folder (its logging rules) and the runtime folder, so those are
    // looked at first: one that stopped answering would hold the start there without a word.
    const auto looked = std::make_shared<std::optional<rt::Paths>>();
    if (!rt::callWithin(kFolderWait, [looked] {
            rt::Paths environment = rt::Paths::fromEnvironment();
            (void)QFileInfo::exists(QFileInfo(environment.configDir()).absolutePath());
            // The fonts' cache is opened there before our first window.
            (void)QFileInfo::exists(genericCacheFolder());
            looked->emplace(std::move(environment));
        }))
        endForUnansweredFolders();
    const rt::Paths paths = **looked;

    std::optional<X11Session::ToolkitStartGuard> toolkitStart(std::in_place);
    QApplication application(argc, argv);
    toolkitStart.reset();
    display.release();
    describeApplication();
    // Made as the quit starts, before any other handler of it writes or waits; it bounds the process
    // to its end, which main() makes once even the settings' final write is done.
    std::optional<rt::QuitDeadline> quitDeadline;
    QObject::connect(&application, &QApplication::aboutToQuit, &application,
                     [&quitDeadline] { quitDeadline.emplace(kQuitWait, 0); });
    // The pill, the pop-overs and the tray panel are translucent only where the desktop composites.
    const platform::X11WindowCompositing windowCompositing;
    const CompositingLend compositingLent(windowCompositing);

    // Released before a relaunch, so the new executable can take the lock.
    auto folders = std::make_shared<Folders>(paths);
    if (!rt::callWithin(kFolderWait, [folders] {
            folders->made = folders->paths.ensureExists();
            if (folders->made)
                folders->lock = folders->instance.tryAcquire();
        }))
        endForUnansweredFolders();
    if (!folders->made)
        return reportUnusableFolders(folders->made.error().message);
    platform::FreedesktopNotifications startupNotices(QDBusConnection::sessionBus(), notificationIcon());
    if (!lockInstance(folders->lock, startupNotices))
        return 0;

    rt::Settings settings(paths.settingsFile());
    // Before anything reads a setting. A keyboard whose Fn key never reaches the desktop starts a
    // profile without a stored trigger on a key it has; a stored choice stays, as it wins over defaults.
    const TriggerKey primaryDefault = defaultTriggerKey(launchKeyboardMap);
    registerDefaults(settings, primaryDefault);
    if (primaryDefault != TriggerKey::fn)
        qCInfo(lcApp).noquote() << "app: the keyboard gives no Fn key — the default trigger is"
                                << displayName(primaryDefault);

    // Models are found once: one installed while the application runs is offered after a restart.
    const std::vector<platform::InstalledSpeechModel> speechModels =
        platform::PocketSphinxModelFolder::scan(platform::PocketSphinxModelFolder::systemFolder());
    const LanguageCatalogue languages = languageCatalogue(speechModels);
    std::shared_ptr<platform::MultiLanguageRecognizer> recognizer = makeRecognizer(speechModels, paths);

    // SIGTERM, SIGINT and SIGHUP (logout) end the application through the same path as Quit.
    rt::UnixSignals unixSignals;
    QObject::connect(&unixSignals, &rt::UnixSignals::received, &application, [](int signalNumber) {
        qCInfo(lcApp) << "app: signal" << signalNumber << "— quitting";
        QApplication::quit();
    });

    qCInfo(lcApp) << "app: launched, version" << ZQ_VERSION << "on" << QGuiApplication::platformName();

    // The desktop's palette is read before the appearance replaces it.
    platform::PortalDesktopAppearance desktopAppearance(QDBusConnection::sessionBus(),
                                                        colorSchemeOf(QApplication::palette()));

    std::optional<Run> run(std::in_place, application, paths, settings, recognizer, languages, launchKeyboardMap,
                           desktopAppearance);
    auto app = std::make_unique<ZEPAquarnApp>(run->app, LaunchOrder::trayIconFirst);
    run->appForPill = app.get();
    setSettingsServices(*app, *run, languages);
    app->showScenes();
    // The speech model takes longer to load than anything else the first take needs: the expected
    // language's starts loading as soon as the tray icon is up, on threads of its own. Started before
    // the icon, its reading of the model's files held the icon up by several milliseconds.
    recognizer->loadNow(expectedLanguage(settings));

    // After the application's own handler, which may still write settings.
    saveSettingsAtQuit(application, settings);
    // The user's clipboard outlives the quit: back from a paste in flight, then to the clipboard manager.
    QObject::connect(&application, &QApplication::aboutToQuit, &application,
                     [&run] { run->services.paster.handOverAtQuit(); });

    // A display that dies ends the process inside the event loop, with no teardown: the take in
    // flight is kept first, and what the teardown would write is written.
    std::optional<X11Session::DisplayLossHandler> displayLoss(std::in_place, platform::isToolkitDisplayGone, [&] {
        qCWarning(lcApp) << "app: the display is gone — keeping what is in flight and ending";
        X11Session::settleForDisplayLoss([&] { app->applicationLostDisplay(); }, settings,
                                         [&] {
                                             // None before the first take's parts exist.
                                             if (run->dictation)
                                                 run->dictation->stores.writer->waitUntilWritten();
                                         },
                                         kQuitWait);
    });
    const int status = QApplication::exec();
    if (!quitDeadline)
        quitDeadline.emplace(kQuitWait, status);
    displayLoss.reset();
    // The controller and the views go before the services they use.
    app.reset();
    // The stores are written as the parts that hold them go.
    run->dictation.reset();
    // An installed update starts once this process holds nothing the new one needs, and also when the
    // quit runs out of time: the update is in place either way.
    if (const QString relaunch = run->updateServices.relaunchExecutable; !relaunch.isEmpty()) {
        quitDeadline->setLastStep([&folders, relaunch, arguments = QCoreApplication::arguments().mid(1)] {
            folders.reset();
            if (!QProcess::startDetached(relaunch, arguments))
                qCWarning(lcApp) << "app: the updated application did not start";
        });
    }
    // What is left waits for threads: the speech model's load in flight, takes, blocking calls.
    run->loop.workers().stopAll();
    run.reset();
    recognizer.reset();
    sharedHALExecutor().endQueues();
    if (const auto saved = settings.sync(); !saved)
        qCWarning(lcApp) << "app: settings not saved at exit:" << saved.error().message;
    quitDeadline->runLastStep();
    // Everything of the run is written. What the toolkit's teardown and the exit handlers would do now
    // is past the deadline's reach and keeps nothing of the user's: its own wait of up to 5 s for a
    // clipboard manager after ours, a last reference to a part that calls into a folder that stopped
    // answering.
    std::fflush(nullptr);
    std::_Exit(status);
}
