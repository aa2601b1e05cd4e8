#include "platform/linux/PortalDesktopAppearance.h"

#include "runtime/Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace zq::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kColorSchemeKey = QStringLiteral("color-scheme");
const QString kGnomeInterfaceNamespace = QStringLiteral("org.gnome.desktop.interface");
const QString kEnableAnimationsKey = QStringLiteral("enable-animations");

// A start-up read must never hold the application for long: the portal either answers at once or
// is treated as absent.
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
    if (!m_bus.isConnected() || !m_bus.interface())
        return;
    if (!m_bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                       SLOT(onSettingChanged(QDBusMessage))))
        qCWarning(lcWindow) << "appearance: cannot follow the settings portal:" << m_bus.lastError().message();
    if (!m_bus.interface()->isServiceRegistered(kService).value()) {
        qCInfo(lcWindow) << "appearance: no settings portal, following the palette";
        return;
    }

    const auto read = [this](const QString &nameSpace, const QString &key) {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
        call << nameSpace << key;
        const QDBusMessage reply = m_bus.call(call, QDBus::Block, kReadTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return false;
        m_portalAvailable = true;
        apply(nameSpace, key, reply.arguments().constFirst());
        return true;
    };
    if (!read(kAppearanceNamespace, kColorSchemeKey))
        qCInfo(lcWindow) << "appearance: the settings portal gave no colour scheme";
    read(kGnomeInterfaceNamespace, kEnableAnimationsKey);
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
