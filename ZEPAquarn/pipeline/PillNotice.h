#pragma once

#include "pipeline/DictationFailure.h"

#include <QString>

namespace zq {

namespace platform {
class UserNotifications;
}

// The words a failed take shows: in the pill as "<title>. <detail>", and as a user notification
// with the title as its title and the detail as its body. A plain value.
struct PillNotice {
    QString title;
    QString detail;
    // Posted as urgent and with the default sound.
    bool timeSensitive = false;

    // The muted pill's text.
    QString text() const { return title + QStringLiteral(". ") + detail; }

    friend bool operator==(const PillNotice &, const PillNotice &) = default;
};

// The notice for a failure. `backend` (a "backend" setting value) only matters for a transcription
// failure, whose words are the incident's title and next step for the same error text; `pasteChord`
// only for a refused paste, whose words name the keys that paste in the window in front.
PillNotice pillNotice(const DictationFailure &failure, const QString &backend,
                      const QString &pasteChord = QStringLiteral("Ctrl+V"));

// The notice when the `store` file ("history", "statistics") cannot be written in `folder`; a take's
// recording stays until History holds its words on disk.
PillNotice storeNotSavedNotice(const QString &store, const QString &folder);

// Posts `notice` as a new notification (never replacing an earlier one) under `identifier` when
// `granted`; nothing otherwise. Uses only its arguments, so it may run on any thread the notification
// service calls back on.
void postUserNotification(bool granted, const PillNotice &notice, platform::UserNotifications &notifications,
                          const QString &identifier);
// A new identifier for a notification.
QString newNotificationIdentifier();

} // namespace zq
