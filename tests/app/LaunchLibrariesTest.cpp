// What the dynamic loader maps before the application's first line runs: every library there is paid
// for at each launch, before the tray icon. Those a feature needs only later are opened on first use.
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

TEST(LaunchLibrariesTest, TheLibrariesOfLaterFeaturesAreNotLoadedAtLaunch)
{
    // The loader lists what it would map for the executable, and stops.
    QProcess loader;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_TRACE_LOADED_OBJECTS"), QStringLiteral("1"));
    loader.setProcessEnvironment(environment);
    loader.start(QStringLiteral(ZQ_APP_BINARY), {});
    ASSERT_TRUE(loader.waitForFinished(30000));
    const QString loaded = QString::fromLocal8Bit(loader.readAllStandardOutput());
    ASSERT_TRUE(loaded.contains(QLatin1String("libQt6Widgets"))) << "no list of loaded libraries:\n"
                                                                 << qPrintable(loaded);

    // The pronunciations of new words, the update signature check, the secret store, the sound server's
    // client, audio files, resampling, the trigger's and the paste's X extensions, the speech library and
    // HTTP.
    for (const char *later :
         {"libespeak-ng.so", "libcrypto.so", "libsecret-1.so", "libpulse.so", "libsndfile.so", "libsoxr.so", "libXi.so",
          "libXtst.so", "libpocketsphinx.so", "libsphinxbase.so", "libQt6Network.so"})
        EXPECT_FALSE(loaded.contains(QLatin1String(later))) << later << " is loaded at launch:\n" << qPrintable(loaded);
}
