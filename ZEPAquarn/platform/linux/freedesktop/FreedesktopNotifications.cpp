#include "platform/linux/freedesktop/FreedesktopNotifications.h"

#include "runtime/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace zq::platform {

namespace {

// The protocol's normal urgency. Critical notices stay until the user dismisses them, so no notice
// of ours asks for it: a time-sensitive one is shown at once anyway and should go away like the rest.
constexpr uchar kNormalUrgency = 1;
// The server's own display time, which every server keeps to.
constexpr int kServerDefaultTimeoutMs = -1;

QDBusMessage makeCall(const char *method)
{
    return QDBusMessage::createMethodCall(
        QString::fromLatin1(FreedesktopNotifications::kService), QString::fromLatin1(FreedesktopNotifications::kPath),
        QString::fromLatin1(FreedesktopNotifications::kInterface), QString::fromLatin1(method));
}

} // namespace

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection connection, QString appIcon, QObject *parent)
    : QObject(parent), m_connection(std::move(connection)), m_appIcon(std::move(appIcon))
{}

void FreedesktopNotifications::requestAuthorization(std::function<void(bool granted)> completion)
{
    if (!m_connection.isConnected()) {
        qCInfo(lcNotifications) << "notifications: no session bus";
        if (completion)
            completion(false);
        return;
    }
    auto *watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(makeCall("GetCapabilities")), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [completion = std::move(completion)](QDBusPendingCallWatcher *call) {
                const QDBusPendingReply<QStringList> reply = *call;
                call->deleteLater();
                const bool granted = !reply.isError();
                if (!granted)
                    qCInfo(lcNotifications).noquote() << "notifications: service unavailable:" << reply.error().name();
                if (completion)
                    completion(granted);
            });
}

void FreedesktopNotifications::add(const QString &identifier, const UserNotificationContent &content)
{
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(kNormalUrgency));
    if (content.playsDefaultSound)
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    else
        hints.insert(QStringLiteral("suppress-sound"), true);
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("zepaquarn"));

    constexpr qsizetype kKept = 16;
    if (m_shown.size() >= kKept)
        m_shown.clear();
    m_shown.insert(identifier, 0u);
    QDBusMessage call = makeCall("Notify");
    // The body is plain text from our own tables; servers that read markup in it get none.
    call << QStringLiteral("ZEPA QUARN") << uint(0) << m_appIcon << content.title << content.body.toHtmlEscaped()
         << QStringList() << hints << kServerDefaultTimeoutMs;
    auto *watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, identifier](QDBusPendingCallWatcher *pending) {
        const QDBusPendingReply<uint> reply = *pending;
        pending->deleteLater();
        if (reply.isError()) {
            qCWarning(lcNotifications).noquote()
                << "notifications: notice" << identifier << "not shown:" << reply.error().name();
            m_shown.remove(identifier);
            return;
        }
        const auto shown = m_shown.find(identifier);
        if (shown == m_shown.end())
            return;
        if (!*shown) { // taken back while it was on its way
            close(reply.value());
            m_shown.erase(shown);
            return;
        }
        *shown = reply.value();
    });
}

void FreedesktopNotifications::remove(const QString &identifier)
{
    const auto shown = m_shown.find(identifier);
    if (shown == m_shown.end() || !*shown)
        return;
    if (**shown == 0) {
        *shown = std::nullopt; // closed once the server names it
        return;
    }
    close(**shown);
    m_shown.erase(shown);
}

void FreedesktopNotifications::close(uint id)
{
    QDBusMessage call = makeCall("CloseNotification");
    call << id;
    m_connection.asyncCall(call);
}

} // namespace zq::platform
