#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace zq {

// A failed take as the incident store keeps it. JSON keys are the field names; "language" and
// "recordingFilename" are left out when absent and are the only optional keys.
struct DictationIncident {
    QUuid id;
    QDateTime date;
    QString code;
    QString title;
    QString message;
    QString nextStep;
    QString backend;
    std::optional<QString> language;
    QString appVersion;
    QString build;
    // A plain name inside the store's Recordings folder.
    std::optional<QString> recordingFilename;
    bool isRead = false;

    // The first 8 hexadecimal digits of the id, in capitals.
    QString reference() const;
    // The plain-text issue report the Support page copies: codes, versions and texts only, never
    // the transcript, audio, key, language or raw error.
    QString reportText() const;

    QJsonObject toJson() const;
    static std::optional<DictationIncident> fromJson(const QJsonValue &value);

    friend bool operator==(const DictationIncident &, const DictationIncident &) = default;
};

} // namespace zq
