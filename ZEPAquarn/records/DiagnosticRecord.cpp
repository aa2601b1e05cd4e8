#include "records/DiagnosticRecord.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace zq {

namespace {

// QJsonObject keeps its keys in ascending order and Qt never escapes '/', which is exactly the
// journal's line format.
QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<QJsonObject> parseObject(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

bool readString(const QJsonObject &object, const char *key, QString &out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

bool readEvent(const QJsonObject &object, const char *key, DiagnosticEvent &out)
{
    QString raw;
    if (!readString(object, key, raw))
        return false;
    const auto event = fromRawValue<DiagnosticEvent>(raw);
    if (!event)
        return false;
    out = *event;
    return true;
}

} // namespace

QByteArray DiagnosticRecord::toJson() const
{
    QJsonObject meta;
    for (auto it = metadata.cbegin(); it != metadata.cend(); ++it)
        meta.insert(it.key(), it.value());
    QJsonObject object;
    object.insert(QStringLiteral("timestamp"), timestamp);
    object.insert(QStringLiteral("sessionID"), sessionID);
    object.insert(QStringLiteral("appVersion"), appVersion);
    object.insert(QStringLiteral("build"), build);
    object.insert(QStringLiteral("event"), rawValue(event));
    object.insert(QStringLiteral("metadata"), meta);
    return compact(object);
}

std::optional<DiagnosticRecord> DiagnosticRecord::fromJson(const QByteArray &json)
{
    const auto object = parseObject(json);
    if (!object)
        return std::nullopt;
    DiagnosticRecord record;
    if (!readString(*object, "timestamp", record.timestamp) || !readString(*object, "sessionID", record.sessionID) ||
        !readString(*object, "appVersion", record.appVersion) || !readString(*object, "build", record.build) ||
        !readEvent(*object, "event", record.event))
        return std::nullopt;
    const QJsonValue meta = object->value(QLatin1String("metadata"));
    if (!meta.isObject())
        return std::nullopt;
    const QJsonObject metaObject = meta.toObject();
    for (auto it = metaObject.begin(); it != metaObject.end(); ++it) {
        if (!it.value().isString())
            return std::nullopt;
        record.metadata.insert(it.key(), it.value().toString());
    }
    return record;
}

QByteArray DiagnosticRunState::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("active"), active);
    object.insert(QStringLiteral("sessionID"), sessionID);
    object.insert(QStringLiteral("appVersion"), appVersion);
    object.insert(QStringLiteral("build"), build);
    object.insert(QStringLiteral("lastEvent"), rawValue(lastEvent));
    object.insert(QStringLiteral("updatedAt"), updatedAt);
    return compact(object);
}

std::optional<DiagnosticRunState> DiagnosticRunState::fromJson(const QByteArray &json)
{
    const auto object = parseObject(json);
    if (!object)
        return std::nullopt;
    DiagnosticRunState state;
    const QJsonValue active = object->value(QLatin1String("active"));
    if (!active.isBool())
        return std::nullopt;
    state.active = active.toBool();
    if (!readString(*object, "sessionID", state.sessionID) || !readString(*object, "appVersion", state.appVersion) ||
        !readString(*object, "build", state.build) || !readEvent(*object, "lastEvent", state.lastEvent) ||
        !readString(*object, "updatedAt", state.updatedAt))
        return std::nullopt;
    return state;
}

} // namespace zq
