#pragma once

#include "runtime/Result.h"

#include <QString>
#include <QStringList>

namespace zq::rt {

// The folders the application writes to. A plain value: made once from the environment by main()
// and handed to the stores, or made from explicit folders by tests.
//
//   dataDir    $XDG_DATA_HOME/ZEPAquarn   (else ~/.local/share/ZEPAquarn): history, statistics, incidents
//   stateDir   $XDG_STATE_HOME/ZEPAquarn  (else ~/.local/state/ZEPAquarn): logs and run state
//   configDir  $XDG_CONFIG_HOME/ZEPAquarn (else ~/.config/ZEPAquarn): settings
//   takeDir    $XDG_RUNTIME_DIR/ZEPAquarn-takes (else <temp>/ZEPAquarn-takes-<uid>): take recordings
//   lockFiles  "instance.lock" in each of the four: the single-instance locks. They live with
//              what they protect, so two launches that share any folder meet at a lock whatever
//              else their environments name.
class Paths {
public:
    Paths(QString dataDir, QString stateDir, QString configDir, QString takeDir);

    // Whether fromEnvironment() looks that the runtime folder exists (it falls back to the temp
    // folder when not), or takes it as named: for naming the folders when they cannot be looked at.
    enum class RuntimeFolder { ifItExists, asNamed };
    static Paths fromEnvironment(RuntimeFolder runtimeFolder = RuntimeFolder::ifItExists);

    const QString &dataDir() const { return m_dataDir; }
    const QString &stateDir() const { return m_stateDir; }
    const QString &configDir() const { return m_configDir; }
    const QString &takeDir() const { return m_takeDir; }
    QStringList lockFiles() const;
    QString settingsFile() const { return m_configDir + QLatin1String("/settings.json"); }

    // Creates every folder that is missing, each private to the user (0700): they hold recordings
    // and transcripts. See ensurePrivateDirectory() for what an existing folder must satisfy.
    [[nodiscard]] Result<void> ensureExists() const;

    // Makes `path` (and missing parents) and checks that it is a real folder (not a symlink) owned
    // by this user. Group and other permission bits are removed. A folder owned by someone else is
    // refused: under a shared temp folder, another user could have made it first to read takes.
    [[nodiscard]] static Result<void> ensurePrivateDirectory(const QString &path);

    friend bool operator==(const Paths &, const Paths &) = default;

private:
    QString m_dataDir;
    QString m_stateDir;
    QString m_configDir;
    QString m_takeDir;
};

} // namespace zq::rt
