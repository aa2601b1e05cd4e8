#include "runtime/Settings.h"

#include "runtime/FileOps.h"
#include "runtime/Log.h"
#include "runtime/Paths.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cmath>

namespace zq::rt {

namespace {

// File layout: {"format": 1, "values": {"<key>": {"type": "<tag>", "value": <json>}}}.
// The type tag keeps the alternatives apart; JSON alone would turn 40.0 into 40.
constexpr int kFormat = 1;

QString typeTag(const SettingValue &value)
{
    static const char *const tags[] = {"bool", "integer", "double", "string", "strings", "integers"};
    static_assert(std::variant_size_v<SettingValue> == std::size(tags));
    return QString::fromLatin1(tags[value.index()]);
}

// JSON has no NaN or infinity; they are stored as text so that they read back as themselves.
QJsonValue encodeDouble(double value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    return value;
}

std::optional<double> decodeDouble(const QJsonValue &json)
{
    if (json.isDouble())
        return json.toDouble();
    const QString text = json.toString();
    if (text == QLatin1String("nan"))
        return std::nan("");
    if (text == QLatin1String("inf"))
        return HUGE_VAL;
    if (text == QLatin1String("-inf"))
        return -HUGE_VAL;
    return std::nullopt;
}

// Integers are written as JSON integers (Qt keeps all 64 bits). toInteger() gives its default
// for a number with a fraction or out of range, so two different defaults tell those apart.
std::optional<qint64> decodeInteger(const QJsonValue &json)
{
    const qint64 integer = json.toInteger(0);
    if (!json.isDouble() || integer != json.toInteger(1))
        return std::nullopt;
    return integer;
}

QJsonObject encode(const SettingValue &value)
{
    QJsonValue json;
    std::visit(
        [&json](const auto &v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, qint64> || std::is_same_v<T, QString>) {
                json = QJsonValue(v);
            } else if constexpr (std::is_same_v<T, double>) {
                json = encodeDouble(v);
            } else if constexpr (std::is_same_v<T, QStringList>) {
                json = QJsonArray::fromStringList(v);
            } else {
                QJsonArray array;
                for (qint64 element : v)
                    array.append(QJsonValue(element));
                json = array;
            }
        },
        value);
    return QJsonObject{{QStringLiteral("type"), typeTag(value)}, {QStringLiteral("value"), json}};
}

std::optional<SettingValue> decode(const QJsonValue &entry)
{
    const QJsonObject object = entry.toObject();
    const QString type = object.value(QLatin1String("type")).toString();
    const QJsonValue json = object.value(QLatin1String("value"));
    if (type == QLatin1String("bool") && json.isBool())
        return SettingValue(json.toBool());
    if (type == QLatin1String("integer")) {
        if (auto integer = decodeInteger(json))
            return SettingValue(*integer);
        return std::nullopt;
    }
    if (type == QLatin1String("double")) {
        if (auto number = decodeDouble(json))
            return SettingValue(*number);
        return std::nullopt;
    }
    if (type == QLatin1String("string") && json.isString())
        return SettingValue(json.toString());
    if (type == QLatin1String("strings") && json.isArray()) {
        QStringList list;
        for (const QJsonValue &element : json.toArray()) {
            if (!element.isString())
                return std::nullopt;
            list.append(element.toString());
        }
        return SettingValue(list);
    }
    if (type == QLatin1String("integers") && json.isArray()) {
        QList<qint64> list;
        for (const QJsonValue &element : json.toArray()) {
            auto integer = decodeInteger(element);
            if (!integer)
                return std::nullopt;
            list.append(*integer);
        }
        return SettingValue(list);
    }
    return std::nullopt;
}

QByteArray encodeFile(const SettingsTable &values)
{
    QJsonObject entries;
    for (const auto &[key, value] : values)
        entries.insert(key, encode(value));
    const QJsonObject root{{QStringLiteral("format"), kFormat}, {QStringLiteral("values"), entries}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

// Equality that treats two NaNs as the same stored value, so storing NaN twice is not a change.
bool sameValue(const std::optional<SettingValue> &a, const std::optional<SettingValue> &b)
{
    if (a && b && a->index() == b->index() && std::holds_alternative<double>(*a))
        return std::get<double>(*a) == std::get<double>(*b) ||
               (std::isnan(std::get<double>(*a)) && std::isnan(std::get<double>(*b)));
    return a == b;
}

} // namespace

Settings::Settings(QString filePath, QObject *parent) : QObject(parent), m_filePath(std::move(filePath))
{
    load();
}

Settings::~Settings()
{
    if (auto synced = sync(); !synced)
        qCWarning(lcSettings) << "settings not saved at exit:" << synced.error().message;
}

void Settings::load()
{
    if (m_filePath.isEmpty())
        return;
    auto read = readOwnFile(m_filePath, maximumFileBytes);
    if (!read && read.error().code == ENOENT)
        return;

    QString problem;
    QByteArray bytes;
    const bool tooLarge = !read && read.error().code == EFBIG;
    if (!read)
        problem = QStringLiteral("cannot be read: %1").arg(read.error().message);
    else
        bytes = std::move(read).value();

    std::size_t dropped = 0;
    if (problem.isEmpty()) {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
        const QJsonValue values = document.object().value(QLatin1String("values"));
        if (parseError.error != QJsonParseError::NoError) {
            problem = QStringLiteral("is not valid JSON: %1").arg(parseError.errorString());
        } else if (!document.isObject() || !values.isObject()) {
            problem = QStringLiteral("has no settings object");
        } else {
            const QJsonObject entries = values.toObject();
            for (auto it = entries.begin(); it != entries.end(); ++it) {
                if (auto value = decode(it.value()))
                    m_user[it.key()] = *value;
                else
                    ++dropped;
            }
            if (dropped > 0)
                problem = QStringLiteral("has %1 entries that cannot be decoded").arg(dropped);
        }
    }
    if (problem.isEmpty())
        return;

    // Keep the original for the user before anything overwrites it.
    qCWarning(lcSettings).noquote() << "settings file" << m_filePath << problem;
    auto kept = moveAside(m_filePath, QStringLiteral("settings file ") + problem);
    if (!kept) {
        m_saveBlocked = true;
        qCCritical(lcSettings).noquote() << "cannot keep the unreadable settings file aside; changes will not be saved:"
                                         << kept.error().message;
        return;
    }
    qCWarning(lcSettings).noquote() << "starting from the defaults"
                                    << (m_user.empty() ? "" : "and the readable entries") << "- the old file is kept as"
                                    << kept.value();
    if (m_user.empty()) {
        m_keptAside = KeptAsideFile{QStringLiteral("settings"), kept.value(),
                                    tooLarge ? KeptAsideFile::Reason::tooLarge : KeptAsideFile::Reason::unreadable};
    } else {
        // The readable entries exist only in memory now; put them back on disk at once.
        m_dirty = true;
        saveIfNeeded();
    }
}

void Settings::registerDefaults(const SettingsTable &defaults)
{
    QStringList changedKeys;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[key, value] : defaults) {
            const auto before = effectiveLocked(key);
            m_defaults[key] = value;
            if (!sameValue(before, effectiveLocked(key)))
                changedKeys.append(key);
        }
    }
    for (const QString &key : changedKeys)
        emit changed(key);
}

std::optional<SettingValue> Settings::effectiveLocked(const QString &key) const
{
    if (auto it = m_user.find(key); it != m_user.end())
        return it->second;
    if (auto it = m_defaults.find(key); it != m_defaults.end())
        return it->second;
    return std::nullopt;
}

std::optional<SettingValue> Settings::value(QAnyStringView key) const
{
    std::lock_guard lock(m_mutex);
    return effectiveLocked(key.toString());
}

bool Settings::hasUserValue(QAnyStringView key) const
{
    std::lock_guard lock(m_mutex);
    return m_user.count(key.toString()) > 0;
}

template <typename T>
T Settings::typedValue(QAnyStringView key, const T &fallback) const
{
    const QString name = key.toString();
    std::lock_guard lock(m_mutex);
    for (const SettingsTable *layer : {&m_user, &m_defaults}) {
        if (auto it = layer->find(name); it != layer->end() && std::holds_alternative<T>(it->second))
            return std::get<T>(it->second);
    }
    return fallback;
}

bool Settings::boolValue(QAnyStringView key, bool fallback) const
{
    return typedValue<bool>(key, fallback);
}

qint64 Settings::integerValue(QAnyStringView key, qint64 fallback) const
{
    return typedValue<qint64>(key, fallback);
}

double Settings::doubleValue(QAnyStringView key, double fallback) const
{
    return typedValue<double>(key, fallback);
}

QString Settings::stringValue(QAnyStringView key, const QString &fallback) const
{
    return typedValue<QString>(key, fallback);
}

QStringList Settings::stringListValue(QAnyStringView key, const QStringList &fallback) const
{
    return typedValue<QStringList>(key, fallback);
}

QList<qint64> Settings::integerListValue(QAnyStringView key, const QList<qint64> &fallback) const
{
    return typedValue<QList<qint64>>(key, fallback);
}

void Settings::setValue(QAnyStringView keyView, const SettingValue &value)
{
    const QString key = keyView.toString();
    bool effectiveChanged = false;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_user.find(key);
        if (it != m_user.end() && sameValue(it->second, value))
            return;
        const auto before = effectiveLocked(key);
        m_user[key] = value;
        m_dirty = true;
        effectiveChanged = !sameValue(before, value);
    }
    saveIfNeeded();
    if (effectiveChanged)
        emit changed(key);
}

void Settings::remove(QAnyStringView keyView)
{
    const QString key = keyView.toString();
    bool effectiveChanged = false;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_user.find(key);
        if (it == m_user.end())
            return;
        const auto before = effectiveLocked(key);
        m_user.erase(it);
        m_dirty = true;
        effectiveChanged = !sameValue(before, effectiveLocked(key));
    }
    saveIfNeeded();
    if (effectiveChanged)
        emit changed(key);
}

void Settings::clear()
{
    QStringList changedKeys;
    {
        std::lock_guard lock(m_mutex);
        if (m_user.empty())
            return;
        SettingsTable removed;
        removed.swap(m_user);
        for (const auto &[key, value] : removed) {
            if (!sameValue(value, effectiveLocked(key)))
                changedKeys.append(key);
        }
        m_dirty = true;
    }
    saveIfNeeded();
    for (const QString &key : changedKeys)
        emit changed(key);
}

void Settings::saveIfNeeded()
{
    if (auto saved = sync(); !saved)
        qCWarning(lcSettings).noquote() << "settings not saved:" << saved.error().message;
}

Result<void> Settings::sync()
{
    if (m_filePath.isEmpty())
        return {};
    // The snapshot is taken under the write lock, so a later snapshot is never overwritten by an
    // earlier one that was slower to reach the disk.
    std::lock_guard saveLock(m_saveMutex);
    QByteArray bytes;
    {
        std::lock_guard lock(m_mutex);
        if (!m_dirty)
            return {};
        if (m_saveBlocked)
            return makeError(
                QStringLiteral("The settings file could not be read or kept aside, so it is not replaced."));
        bytes = encodeFile(m_user);
        m_dirty = false;
    }
    const QString folder = QFileInfo(m_filePath).absolutePath();
    Result<void> written = QFileInfo::exists(folder) ? Result<void>() : Paths::ensurePrivateDirectory(folder);
    if (written)
        written = writeFileAtomically(m_filePath, bytes);
    if (!written) {
        std::lock_guard lock(m_mutex);
        m_dirty = true;
    }
    return written;
}

} // namespace zq::rt
