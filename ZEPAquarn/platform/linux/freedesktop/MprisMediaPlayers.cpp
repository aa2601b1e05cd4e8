#include "platform/linux/freedesktop/MprisMediaPlayers.h"

#include "runtime/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>

#include <algorithm>
#include <optional>

namespace zq::platform {

namespace {

const QString kNamePrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kBusService = QStringLiteral("org.freedesktop.DBus");

std::optional<PlaybackStatus> parseStatus(const QString &text)
{
    if (text == QLatin1String("Playing"))
        return PlaybackStatus::playing;
    if (text == QLatin1String("Paused"))
        return PlaybackStatus::paused;
    if (text == QLatin1String("Stopped"))
        return PlaybackStatus::stopped;
    return std::nullopt;
}

QDBusMessage busCall(const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(kBusService, QStringLiteral("/org/freedesktop/DBus"), kBusService, method);
    message.setArguments(arguments);
    return message;
}

} // namespace

MprisMediaPlayers::MprisMediaPlayers(QDBusConnection bus, std::chrono::milliseconds timeout)
    : m_bus(std::move(bus)), m_timeoutMs(int(timeout.count()))
{}

std::vector<MediaPlayer> MprisMediaPlayers::players()
{
    if (!m_bus.isConnected())
        return {};
    const QDBusMessage names = m_bus.call(busCall(QStringLiteral("ListNames")), QDBus::Block, m_timeoutMs);
    if (names.type() != QDBusMessage::ReplyMessage || names.arguments().isEmpty())
        return {};
    QStringList playerNames;
    for (const QString &name : names.arguments().constFirst().toStringList()) {
        if (name.startsWith(kNamePrefix))
            playerNames.append(name);
    }
    playerNames.sort();

    // Every question goes out before the first answer is awaited: a hung player costs one timeout.
    struct Pending {
        QString name;
        QDBusPendingCall owner;
        QDBusPendingCall status;
    };
    std::vector<Pending> pending;
    for (const QString &name : playerNames) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            name, kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get.setArguments({kPlayerInterface, QStringLiteral("PlaybackStatus")});
        pending.push_back({name, m_bus.asyncCall(busCall(QStringLiteral("GetNameOwner"), {name}), m_timeoutMs),
                           m_bus.asyncCall(get, m_timeoutMs)});
    }

    std::vector<MediaPlayer> result;
    for (Pending &entry : pending) {
        entry.owner.waitForFinished();
        entry.status.waitForFinished();
        if (entry.owner.isError() || entry.status.isError())
            continue;
        const QDBusMessage ownerReply = entry.owner.reply();
        const QDBusMessage statusReply = entry.status.reply();
        if (ownerReply.arguments().isEmpty() || statusReply.arguments().isEmpty())
            continue;
        const std::optional<PlaybackStatus> status =
            parseStatus(statusReply.arguments().constFirst().value<QDBusVariant>().variant().toString());
        const QString instance = ownerReply.arguments().constFirst().toString();
        if (!status || instance.isEmpty())
            continue;
        result.push_back({entry.name, instance, *status});
    }
    return result;
}

bool MprisMediaPlayers::pause(const MediaPlayer &player)
{
    return call(player, QStringLiteral("Pause"));
}

bool MprisMediaPlayers::play(const MediaPlayer &player)
{
    return call(player, QStringLiteral("Play"));
}

bool MprisMediaPlayers::call(const MediaPlayer &player, const QString &method)
{
    if (!m_bus.isConnected() || player.instance.isEmpty())
        return false;
    // Sent to the instance, not the name: a player that quit and came back is someone else's.
    const QDBusMessage reply =
        m_bus.call(QDBusMessage::createMethodCall(player.instance, kObjectPath, kPlayerInterface, method), QDBus::Block,
                   m_timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCDebug(lcAudio) << "media player did not take" << method << reply.errorName();
        return false;
    }
    return true;
}

} // namespace zq::platform
