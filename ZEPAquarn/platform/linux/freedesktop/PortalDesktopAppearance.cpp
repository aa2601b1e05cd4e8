#include "platform/linux/freedesktop/PortalDesktopAppearance.h"

#include "runtime/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

namespace zq::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kColorSchemeKey = QStringLiteral("color-scheme");
const QString kGnomeInterfaceNamespace = QStringLiteral("org.gnome.desktop.interface");
const QString kEnableAnimationsKey = QStringLiteral("enable-animations");

// A portal that has not answered by then is treated as absent until it signals a change.
constexpr int kReadTimeoutMs = 1000;

// The portal's Read wraps the value in one variant more than ReadOne does: take off every layer.
QVariant unwrap(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

} // namespace

PortalDesktopAppearance::PortalDesktopAppearance(QDBusConnection bus, ColorScheme startPalette, QObject *parent)
    : DesktopAppearance(parent), m_bus(std::move(bus)), m_paletteScheme(startPalette)
{
    if (!m_bus.isConnected())
        return;
    // The launch does not wait for the portal (it may still be starting with the session): until it
    // answers the palette decides, and its answer comes as a change. Subscribing waits for the bus, so
    // that too is left to the loop, after what the launch shows first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_bus.connect(kService, kPath, kSettingsInterface, QStringLiteral("SettingChanged"), this,
                               SLOT(onSettingChanged(QDBusMessage))))
                qCWarning(lcWindow) << "appearance: cannot follow the settings portal:" << m_bus.lastError().message();
            read(kAppearanceNamespace, kColorSchemeKey);
            read(kGnomeInterfaceNamespace, kEnableAnimationsKey);
        },
        Qt::QueuedConnection);
}

void PortalDesktopAppearance::read(const QString &nameSpace, const QString &key)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kSettingsInterface, QStringLiteral("Read"));
    call << nameSpace << key;
    // A portal that is not running is not started for this.
    call.setAutoStartService(false);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kReadTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, nameSpace, key](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        const QDBusMessage reply = done->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            if (nameSpace == kAppearanceNamespace)
                qCInfo(lcWindow).noquote() << "appearance: no colour scheme from the settings portal ("
                                           << reply.errorName() << "), following the palette";
            return;
        }
        m_portalAvailable = true;
        if (apply(nameSpace, key, reply.arguments().constFirst()))
            emit changed();
    });
}

std::optional<ColorScheme> PortalDesktopAppearance::colorScheme() const
{
    return m_portalScheme ? m_portalScheme : std::optional<ColorScheme>(m_paletteScheme);
}

void PortalDesktopAppearance::onSettingChanged(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 3)
        return;
    if (apply(arguments.at(0).toString(), arguments.at(1).toString(), arguments.at(2)))
        emit changed();
}

bool PortalDesktopAppearance::apply(const QString &nameSpace, const QString &key, const QVariant &wrapped)
{
    const QVariant value = unwrap(wrapped);
    if (nameSpace == kAppearanceNamespace && key == kColorSchemeKey) {
        bool ok = false;
        const uint preference = value.toUInt(&ok);
        std::optional<ColorScheme> scheme;
        // 1 prefers dark, 2 prefers light, 0 (and anything unknown) states no preference.
        if (ok && preference == 1)
            scheme = ColorScheme::dark;
        else if (ok && preference == 2)
            scheme = ColorScheme::light;
        if (scheme == m_portalScheme)
            return false;
        m_portalScheme = scheme;
        return true;
    }
    if (nameSpace == kGnomeInterfaceNamespace && key == kEnableAnimationsKey) {
        if (value.typeId() != QMetaType::Bool)
            return false;
        const bool reduce = !value.toBool();
        if (reduce == m_reduceMotion)
            return false;
        m_reduceMotion = reduce;
        return true;
    }
    return false;
}

} // namespace zq::platform
