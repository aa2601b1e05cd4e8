#pragma once

#include <QString>

namespace zq::rt {

// One running application per user: an exclusive flock(2) on a lock file. The lock belongs to the
// open file, so it disappears with the process however it ends (no stale lock after a crash).
// Not copyable; the lock is held until the object is destroyed.
class SingleInstance {
public:
    explicit SingleInstance(QString lockFilePath);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // True when this object now holds the lock (also when it already did). False when another
    // instance holds it, or when the lock file cannot be opened (logged with the reason).
    bool tryAcquire();
    bool isHeld() const { return m_fd >= 0; }
    const QString &lockFilePath() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace zq::rt
