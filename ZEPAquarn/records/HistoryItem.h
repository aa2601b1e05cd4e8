#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace zq {

// One delivered transcript. JSON keys "id", "text", "date", all required.
struct HistoryItem {
    QUuid id;
    QString text;
    QDateTime date;

    QJsonObject toJson() const;
    static std::optional<HistoryItem> fromJson(const QJsonValue &value);

    friend bool operator==(const HistoryItem &, const HistoryItem &) = default;
};

} // namespace zq
