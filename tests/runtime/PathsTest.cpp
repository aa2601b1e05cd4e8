#include "runtime/Paths.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using zq::rt::Paths;
using zq::test::modeOf;

namespace {

// Sets environment variables for one test and puts the old values back afterwards.
class ScopedEnvironment {
public:
    void set(const char *name, const QByteArray &value)
    {
        remember(name);
        qputenv(name, value);
    }
    void unset(const char *name)
    {
        remember(name);
        qunsetenv(name);
    }
    ~ScopedEnvironment()
    {
        for (const auto &[name, value] : m_saved) {
            if (value)
                qputenv(name.constData(), *value);
            else
                qunsetenv(name.constData());
        }
    }

private:
    void remember(const char *name)
    {
        std::optional<QByteArray> value;
        if (qEnvironmentVariableIsSet(name))
            value = qgetenv(name);
        m_saved.emplace_back(name, value);
    }
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

Paths pathsUnder(const QTemporaryDir &root)
{
    return Paths(root.filePath("data/ZEPAquarn"), root.filePath("state/ZEPAquarn"), root.filePath("config/ZEPAquarn"),
                 root.filePath("run/ZEPAquarn-takes"));
}

} // namespace

TEST(PathsTest, FoldersFollowTheXdgVariablesAndFallBackUnderHome)
{
    ScopedEnvironment env;
    env.set("HOME", "/home/ada");
    env.set("XDG_DATA_HOME", "/srv/data");
    env.set("XDG_STATE_HOME", "relative/state"); // relative values are invalid and ignored
    env.unset("XDG_CONFIG_HOME");
    QTemporaryDir runtime;
    env.set("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    const Paths paths = Paths::fromEnvironment();
    EXPECT_EQ(paths.dataDir(), "/srv/data/ZEPAquarn");
    EXPECT_EQ(paths.stateDir(), "/home/ada/.local/state/ZEPAquarn");
    EXPECT_EQ(paths.configDir(), "/home/ada/.config/ZEPAquarn");
    EXPECT_EQ(paths.settingsFile(), "/home/ada/.config/ZEPAquarn/settings.json");
    EXPECT_EQ(paths.takeDir(), runtime.path() + "/ZEPAquarn-takes");
    EXPECT_EQ(
        paths.lockFiles(),
        (QStringList{"/srv/data/ZEPAquarn/instance.lock", "/home/ada/.local/state/ZEPAquarn/instance.lock",
                     "/home/ada/.config/ZEPAquarn/instance.lock", runtime.path() + "/ZEPAquarn-takes/instance.lock"}))
        << "a lock in every folder the application writes";
}

TEST(PathsTest, WithoutARuntimeFolderTakesGoToAPerUserTempFolder)
{
    ScopedEnvironment env;
    env.set("HOME", "/home/ada");
    env.unset("XDG_RUNTIME_DIR");
    env.unset("XDG_STATE_HOME");

    env.set("XDG_DATA_HOME", "/srv/data");

    const Paths paths = Paths::fromEnvironment();
    EXPECT_EQ(paths.takeDir(), QDir::cleanPath(QDir::tempPath()) + "/ZEPAquarn-takes-" + QString::number(::geteuid()));
    env.set("XDG_RUNTIME_DIR", "/run/user/zq-absent");
    EXPECT_EQ(Paths::fromEnvironment(Paths::RuntimeFolder::asNamed).takeDir(), "/run/user/zq-absent/ZEPAquarn-takes")
        << "as named, for a message about folders that cannot be looked at";
    EXPECT_EQ(paths.lockFiles().first(), "/srv/data/ZEPAquarn/instance.lock")
        << "the lock sits with the data, whether or not a runtime folder is named";
}

TEST(PathsTest, EnsureExistsMakesEveryFolderPrivate)
{
    QTemporaryDir root;
    const Paths paths = pathsUnder(root);

    ASSERT_TRUE(paths.ensureExists());
    for (const QString &folder : {paths.dataDir(), paths.stateDir(), paths.configDir(), paths.takeDir()}) {
        EXPECT_TRUE(QFileInfo(folder).isDir()) << folder.toStdString();
        EXPECT_EQ(modeOf(folder), 0700u) << folder.toStdString();
    }
    ASSERT_TRUE(paths.ensureExists()) << "a second call finds everything in place";
}

TEST(PathsTest, ATakeFolderOpenToOthersIsMadePrivate)
{
    QTemporaryDir root;
    const QString takes = root.filePath("takes");
    ASSERT_TRUE(QDir().mkdir(takes));
    ::chmod(QFile::encodeName(takes).constData(), 0777);

    ASSERT_TRUE(Paths::ensurePrivateDirectory(takes));
    EXPECT_EQ(modeOf(takes), 0700u);
}

TEST(PathsTest, ATakeFolderThatIsNotReallyOursIsRefused)
{
    QTemporaryDir root;
    QTemporaryDir elsewhere;

    // A symlink planted where the folder should be could send recordings anywhere.
    const QString link = root.filePath("takes-link");
    ASSERT_TRUE(QFile::link(elsewhere.path(), link));
    const auto linked = Paths::ensurePrivateDirectory(link);
    ASSERT_FALSE(linked);
    EXPECT_TRUE(linked.error().message.contains("takes-link")) << linked.error().message.toStdString();

    QFile plain(root.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_FALSE(Paths::ensurePrivateDirectory(root.filePath("plain")));
    EXPECT_FALSE(Paths::ensurePrivateDirectory(root.filePath("plain/takes")));

    if (::geteuid() != 0)
        return; // only root can hand a folder to someone else
    const QString foreign = root.filePath("foreign");
    ASSERT_TRUE(QDir().mkdir(foreign));
    ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 4242, 4242), 0);
    const auto refused = Paths::ensurePrivateDirectory(foreign);
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().message.contains("another user")) << refused.error().message.toStdString();
}
