#include "pipeline/SettingsDefaults.h"
#include "records/Diagnostics.h"
#include "runtime/Log.h"
#include "runtime/Paths.h"
#include "runtime/Settings.h"
#include "runtime/SingleInstance.h"
#include "runtime/UnixSignals.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

#include <cstdio>

using namespace zq;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZEPAquarn"));
    QApplication::setApplicationDisplayName(QStringLiteral("ZEPA QUARN"));
    QApplication::setApplicationVersion(QStringLiteral(ZQ_VERSION));
    // The application lives in the tray; closing a window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    const rt::Paths paths = rt::Paths::fromEnvironment();
    if (const auto made = paths.ensureExists(); !made) {
        std::fprintf(stderr, "ZEPA QUARN cannot create its folders: %s\n", qPrintable(made.error().message));
        return 1;
    }

    rt::SingleInstance instance(paths.lockFile());
    if (!instance.tryAcquire()) {
        std::fprintf(stderr, "ZEPA QUARN is already running.\n");
        return 0;
    }

    rt::Settings settings(paths.settingsFile());
    registerDefaults(settings);

    // Journal session, crash reports and hang watchdog; the session ends when the application quits.
    Diagnostics::shared().start();

    // SIGTERM, SIGINT and SIGHUP (logout) end the application through the same path as Quit.
    rt::UnixSignals unixSignals;
    QObject::connect(&unixSignals, &rt::UnixSignals::received, &app, [](int signalNumber) {
        qCInfo(lcApp) << "app: signal" << signalNumber << "— quitting";
        QApplication::quit();
    });

    qCInfo(lcApp) << "app: launched, version" << ZQ_VERSION << "on" << QGuiApplication::platformName();
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        qCWarning(lcApp) << "app: no X11 display — global trigger keys, paste and the pill need X11 (or XWayland)";

    QMenu menu;
    QAction *quitAction = menu.addAction(QStringLiteral("Quit ZEPA QUARN"));
    QObject::connect(quitAction, &QAction::triggered, &app, &QApplication::quit);

    QSystemTrayIcon tray;
    tray.setIcon(QIcon::fromTheme(QStringLiteral("audio-input-microphone")));
    tray.setToolTip(QStringLiteral("ZEPA QUARN"));
    tray.setContextMenu(&menu);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        tray.show();
    else
        qCWarning(lcApp) << "app: no system tray host found";

    QObject::connect(&app, &QApplication::aboutToQuit, &app, [&settings] {
        if (const auto saved = settings.sync(); !saved)
            qCWarning(lcApp) << "app: settings not saved at quit:" << saved.error().message;
        qCInfo(lcApp) << "app: terminating";
    });

    return app.exec();
}
