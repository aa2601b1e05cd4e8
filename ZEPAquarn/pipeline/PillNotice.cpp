#include "pipeline/PillNotice.h"

#include "platform/UserNotifications.h"
#include "records/IncidentPresentation.h"

#include <QUuid>

namespace zq {

PillNotice pillNotice(const DictationFailure &failure, const QString &backend, const QString &pasteChord)
{
    switch (failure.kind()) {
    case DictationFailure::Kind::micPermissionUndetermined:
        return {QStringLiteral("Microphone access needed"), QStringLiteral("Grant microphone access, then try again."),
                false};
    case DictationFailure::Kind::micPermissionDenied:
        return {QStringLiteral("Microphone access needed"),
                QStringLiteral("Turn ZEPA QUARN on in Settings \u2192 Privacy \u2192 Microphone."), false};
    case DictationFailure::Kind::micUnavailable:
        return {QStringLiteral("Microphone unavailable"),
                QStringLiteral("The input device could not be opened. Check it is connected, then try again."), false};
    case DictationFailure::Kind::noAudio:
        return {QStringLiteral("No audio captured"),
                QStringLiteral("Nothing reached the microphone. Check the input device in the menu."), false};
    case DictationFailure::Kind::pasteBlocked:
        // On this desktop no application blocks a paste: the window in front never fetched the text, or
        // the screen was locked and nothing was pasted. Either way the window did not take it.
        return {QStringLiteral("Transcript copied"),
                QStringLiteral("The window did not take it. Press %1 to insert it.").arg(pasteChord), true};
    case DictationFailure::Kind::timedOut:
        return {QStringLiteral("Transcription took too long"),
                QStringLiteral("Your recording was kept. Check your connection, then retry the transcription."), false};
    case DictationFailure::Kind::micLost:
        return {QStringLiteral("Microphone lost"),
                QStringLiteral("What was heard before it stopped was inserted. Check the microphone, then dictate "
                               "the rest."),
                false};
    case DictationFailure::Kind::transcription: {
        const IncidentPresentation presentation = transcriptionIncidentPresentation(failure.message(), backend);
        return {presentation.title, presentation.nextStep, false};
    }
    }
    return {};
}

PillNotice storeNotSavedNotice(const QString &store, const QString &folder)
{
    QString detail =
        QStringLiteral("ZEPA QUARN cannot write in %1. Make room on the disk or make the folder writable.").arg(folder);
    if (store == QLatin1String("history"))
        detail += QStringLiteral(" The recordings of your latest takes are kept until then.");
    return {QStringLiteral("Couldn't save your %1").arg(store), detail, false};
}

QString newNotificationIdentifier()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

void postUserNotification(bool granted, const PillNotice &notice, platform::UserNotifications &notifications,
                          const QString &identifier)
{
    if (!granted)
        return;
    platform::UserNotificationContent content;
    content.title = notice.title;
    content.body = notice.detail;
    if (notice.timeSensitive) {
        content.interruptionLevel = platform::UserNotificationContent::InterruptionLevel::timeSensitive;
        content.playsDefaultSound = true;
    }
    notifications.add(identifier, content);
}

} // namespace zq
