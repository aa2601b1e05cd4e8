#include "platform/linux/freedesktop/AtspiAnnouncer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantMap>

namespace zq::platform {

namespace {

// The name Qt gives its connection to the accessibility bus.
const QString kQtAccessibilityConnection = QStringLiteral("a11y");
const QString kRootObject = QStringLiteral("/org/a11y/atspi/accessible/root");
// AT-SPI's live levels: none 0, polite 1, assertive 2.
constexpr int kPolite = 1;

} // namespace

void AtspiAnnouncer::announce(const QString &message)
{
    if (message.isEmpty())
        return;
    QDBusConnection bus(kQtAccessibilityConnection);
    if (!bus.isConnected())
        return;
    // An object event: kind, two numbers, the event's data and the sender's cached properties (none).
    QDBusMessage event = QDBusMessage::createSignal(kRootObject, QStringLiteral("org.a11y.atspi.Event.Object"),
                                                    QStringLiteral("Announcement"));
    event << QString() << kPolite << 0 << QVariant::fromValue(QDBusVariant(message)) << QVariantMap();
    bus.send(event);
}

} // namespace zq::platform
