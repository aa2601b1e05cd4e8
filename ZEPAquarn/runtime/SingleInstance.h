#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace zq::rt {

// One running application per set of folders: an exclusive flock(2) on a lock file in each folder
// the application writes, so two launches that share any one of them (the data, the settings, the
// logs or the takes) meet at a lock, whatever their other folders are. A lock belongs to its open
// file, so it disappears with the process however it ends (no stale lock after a crash).
// Not copyable; the locks are held until the object is destroyed.
class SingleInstance {
public:
    enum class Outcome {
        acquired,      // every lock is held
        heldByAnother, // another instance holds one of them; none is held
        unavailable,   // some lock file cannot be made or locked (a read-only folder); the others are held
    };
    struct Attempt {
        Outcome outcome = Outcome::unavailable;
        // For heldByAnother, the lock file in use; for unavailable, why, a sentence per lock file.
        QString detail;
    };

    explicit SingleInstance(QStringList lockFilePaths);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Takes every lock not yet held, in the given order. Asking again once acquired keeps the locks.
    Attempt tryAcquire();
    // Whether every lock is held.
    bool isHeld() const;
    const QStringList &lockFilePaths() const { return m_paths; }

private:
    void releaseAll();

    QStringList m_paths;
    std::vector<int> m_fds; // one per path, -1 while not held
};

} // namespace zq::rt
