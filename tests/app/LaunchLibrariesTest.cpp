// What the dynamic loader maps before the application's first line runs. The libraries the application
// calls are linked, so that the loader, `ldd` and the packaging tools see them; the secret store's,
// which would delay the tray icon by milliseconds and is needed only with the OpenAI engine, is opened
// on its first use.
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

TEST(LaunchLibrariesTest, TheLinkedLibrariesAreMappedAtLaunchAndTheSecretStoreIsNot)
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

    for (const char *linked : {"libpulse.so", "libpocketsphinx.so", "libsphinxbase.so", "libsndfile.so", "libsoxr.so",
                               "libXi.so", "libXtst.so", "libQt6Network.so", "libespeak-ng.so", "libcrypto.so"})
        EXPECT_TRUE(loaded.contains(QLatin1String(linked))) << linked << " is not linked:\n" << qPrintable(loaded);
    for (const char *later : {"libsecret-1.so", "libgio-2.0.so"})
        EXPECT_FALSE(loaded.contains(QLatin1String(later))) << later << " is loaded at launch:\n" << qPrintable(loaded);
}
