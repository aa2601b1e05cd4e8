#pragma once

#include "platform/UpdateFramework.h"
#include "runtime/Settings.h"

#include <QString>

#include <optional>

namespace zq {

// A found update that is newer than the running build and not installed yet.
struct PendingUpdate {
    QString displayVersion;
    qint64 build = 0;

    // The pending update for a recorded version and build, or none (see the .cpp for the rule).
    static std::optional<PendingUpdate> resolve(const std::optional<QString> &version,
                                                const std::optional<QString> &build,
                                                std::optional<qint64> runningBuild);

    friend bool operator==(const PendingUpdate &, const PendingUpdate &) = default;
};

using platform::parseBuildNumber;

// Remembers a found update across launches ("updateAvailableVersion", "updateAvailableBuild")
// and tells whether it is still pending for the build that runs now. Main thread only.
class UpdateAvailabilityStore {
public:
    UpdateAvailabilityStore(rt::Settings &settings, const std::optional<QString> &runningBuild);

    // The store over the application's settings and the build it was made as.
    static UpdateAvailabilityStore live(rt::Settings &settings);

    const std::optional<PendingUpdate> &pending() const { return m_pending; }
    std::optional<qint64> runningBuild() const { return m_runningBuild; }

    // Writes both keys, also when the build is not newer; then resolves `pending` from them.
    void record(const QString &version, const QString &build);
    void clear();

private:
    rt::Settings *m_settings;
    std::optional<qint64> m_runningBuild;
    std::optional<PendingUpdate> m_pending;
};

} // namespace zq
