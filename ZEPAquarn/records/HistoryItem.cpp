#include "records/HistoryItem.h"

#include "records/StoreFile.h"

#include <QJsonValue>

namespace zq {

QJsonObject HistoryItem::toJson() const
{
    return QJsonObject{{QStringLiteral("id"), StoreFile::uuidString(id)},
                       {QStringLiteral("text"), text},
                       {QStringLiteral("date"), StoreFile::referenceSeconds(date)}};
}

std::optional<HistoryItem> HistoryItem::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue id = object.value(QLatin1String("id"));
    const QJsonValue text = object.value(QLatin1String("text"));
    const QJsonValue date = object.value(QLatin1String("date"));
    if (!id.isString() || !text.isString() || !date.isDouble())
        return std::nullopt;
    const auto uuid = StoreFile::uuidFromString(id.toString());
    const auto when = StoreFile::dateFromReferenceSeconds(date.toDouble());
    if (!uuid || !when)
        return std::nullopt;
    return HistoryItem{*uuid, text.toString(), *when};
}

} // namespace zq
