#pragma once

#include "records/DiagnosticEvent.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace zq {

// One journal line. Encoded as one line of JSON with its keys (and the metadata's keys) sorted and
// slashes left unescaped.
struct DiagnosticRecord {
    QString timestamp;
    QString sessionID;
    QString appVersion;
    QString build;
    DiagnosticEvent event = DiagnosticEvent::appLaunched;
    DiagnosticMetadata metadata;

    QByteArray toJson() const;
    // None when a key is missing, a value has the wrong type or the event is unknown.
    static std::optional<DiagnosticRecord> fromJson(const QByteArray &json);

    friend bool operator==(const DiagnosticRecord &, const DiagnosticRecord &) = default;
};

// The content of "run-state.json": whether a session is open, and what it wrote last. A file left
// with `active` true at the next start means the previous process did not end normally.
struct DiagnosticRunState {
    bool active = false;
    QString sessionID;
    QString appVersion;
    QString build;
    DiagnosticEvent lastEvent = DiagnosticEvent::appLaunched;
    QString updatedAt;

    QByteArray toJson() const;
    // All six keys are required; an unknown event name makes the whole file unreadable.
    static std::optional<DiagnosticRunState> fromJson(const QByteArray &json);

    friend bool operator==(const DiagnosticRunState &, const DiagnosticRunState &) = default;
};

} // namespace zq
