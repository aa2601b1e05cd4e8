#pragma once

#include "platform/DesktopAppearance.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace zq::platform {

// The desktop's appearance from the XDG settings portal on the session bus: "color-scheme" of
// "org.freedesktop.appearance" and GNOME's "enable-animations", followed live through the portal's
// SettingChanged signal. Nothing waits for the portal: until it answers, and without one (no owner of
// its name, as on a test bus), the colour scheme is the lightness of the Qt palette the application
// started with; its answers come as changes.
class PortalDesktopAppearance : public DesktopAppearance {
    Q_OBJECT
public:
    // `startPalette`: the application's palette before anything changed it.
    PortalDesktopAppearance(QDBusConnection bus, ColorScheme startPalette, QObject *parent = nullptr);

    std::optional<ColorScheme> colorScheme() const override;
    bool reduceMotion() const override { return m_reduceMotion; }

    // Whether the portal has answered a read.
    bool portalAvailable() const { return m_portalAvailable; }

private slots:
    void onSettingChanged(const QDBusMessage &message);

private:
    void read(const QString &nameSpace, const QString &key);
    bool apply(const QString &nameSpace, const QString &key, const QVariant &value);

    QDBusConnection m_bus;
    ColorScheme m_paletteScheme;
    std::optional<ColorScheme> m_portalScheme;
    bool m_reduceMotion = false;
    bool m_portalAvailable = false;
};

} // namespace zq::platform
