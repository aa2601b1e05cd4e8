#pragma once

#include "runtime/FileOps.h"
#include "runtime/RawValue.h"
#include "runtime/Result.h"

#include <QAnyStringView>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

namespace zq::rt {

// One stored setting. The alternatives stay distinct, also on disk: an integer 40 and a double
// 40.0 are different values, and a reader asking for one never gets the other.
using SettingValue = std::variant<bool, qint64, double, QString, QStringList, QList<qint64>>;
using SettingsTable = std::map<QString, SettingValue>;

// The user's settings: values the user set, over a layer of registered defaults.
//
// The user layer lives in one JSON file (written atomically after every change); the registered
// layer is held in memory only and never written, so a changed default reaches every user who
// never touched the key. A file that cannot be read or decoded is kept aside with a suffix and
// the application carries on from the defaults (and whatever entries could still be decoded);
// when nothing of it could be, keptAside() says where it is kept, for the user to be told.
//
// Reads and writes are safe from any thread. `changed` is emitted on the thread that made the
// change, and only when the value a reader sees (user value, else default) really changed.
class Settings : public QObject {
    Q_OBJECT
public:
    // Far above any real settings file (a long dictionary included); a larger file is not one
    // this class wrote, and is kept aside unread.
    static constexpr qint64 maximumFileBytes = qint64(16) << 20;

    // Loads `filePath`. An empty path keeps everything in memory (tests).
    explicit Settings(QString filePath, QObject *parent = nullptr);
    ~Settings() override;

    const QString &filePath() const { return m_filePath; }
    // The file that load set aside whole, nothing of it read; none when it loaded (or was missing).
    std::optional<KeptAsideFile> keptAside() const { return m_keptAside; }

    // Adds or replaces registered defaults. Memory only.
    void registerDefaults(const SettingsTable &defaults);

    // Keys are taken as any string (the `const char *` constants of zq::keys included).

    // The user's value, else the registered default, else none.
    std::optional<SettingValue> value(QAnyStringView key) const;
    // Whether the user layer holds the key (a registered default does not count).
    bool hasUserValue(QAnyStringView key) const;

    // Typed reads. A user value of another type is skipped in favour of the registered default;
    // `fallback` is returned only when neither layer holds a value of the asked type.
    bool boolValue(QAnyStringView key, bool fallback = false) const;
    qint64 integerValue(QAnyStringView key, qint64 fallback = 0) const;
    double doubleValue(QAnyStringView key, double fallback = 0.0) const;
    QString stringValue(QAnyStringView key, const QString &fallback = {}) const;
    QStringList stringListValue(QAnyStringView key, const QStringList &fallback = {}) const;
    QList<qint64> integerListValue(QAnyStringView key, const QList<qint64> &fallback = {}) const;

    // An enumeration stored as its raw value; none when no text or an unknown one is stored.
    template <HasRawValueNames E>
    std::optional<E> enumValue(QAnyStringView key) const
    {
        return fromRawValue<E>(stringValue(key));
    }

    void setValue(QAnyStringView key, const SettingValue &value);
    template <HasRawValueNames E>
    void setValue(QAnyStringView key, E value)
    {
        setValue(key, SettingValue(rawValue(value)));
    }
    // Removes the user's value, so the key reads as its registered default again.
    void remove(QAnyStringView key);
    // Removes every user value.
    void clear();

    // Writes pending changes now. Every change is already written as it happens; this retries a
    // write that failed and is what the quit path calls so nothing is lost.
    Result<void> sync();

signals:
    void changed(const QString &key);

private:
    template <typename T>
    T typedValue(QAnyStringView key, const T &fallback) const;
    std::optional<SettingValue> effectiveLocked(const QString &key) const;
    void load();
    void saveIfNeeded();

    const QString m_filePath;
    mutable std::mutex m_mutex; // guards the two layers and m_dirty
    SettingsTable m_user;
    SettingsTable m_defaults;
    bool m_dirty = false;
    // Set when the file could be neither read nor moved aside: writing would destroy it.
    bool m_saveBlocked = false;
    std::mutex m_saveMutex; // one writer at a time, newest snapshot last
    // Set by load only, before any other thread can see the settings.
    std::optional<KeptAsideFile> m_keptAside;
};

} // namespace zq::rt
