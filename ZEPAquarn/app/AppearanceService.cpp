#include "app/AppearanceService.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"

#include <QApplication>
#include <QStyle>
#include <QWidget>

namespace zq {

AppearanceService::AppearanceService(rt::Settings &settings, platform::DesktopAppearance *desktop,
                                     QApplication *application, QObject *parent)
    : QObject(parent), m_settings(settings), m_desktop(desktop), m_application(application)
{
    connect(&m_settings, &rt::Settings::changed, this, [this](const QString &key) {
        if (key == keys::appearance)
            refresh();
    });
    if (m_desktop)
        connect(m_desktop, &platform::DesktopAppearance::changed, this, &AppearanceService::refresh);
    refresh();
}

void AppearanceService::refresh()
{
    const AppAppearance appearance = appAppearanceOrSystem(m_settings.stringValue(keys::appearance));
    ColorScheme scheme = ColorScheme::light;
    switch (appearance) {
    case AppAppearance::system:
        scheme = (m_desktop ? m_desktop->colorScheme() : std::nullopt).value_or(ColorScheme::light);
        break;
    case AppAppearance::light:
        scheme = ColorScheme::light;
        break;
    case AppAppearance::dark:
        scheme = ColorScheme::dark;
        break;
    }
    const bool reduceMotion = m_desktop && m_desktop->reduceMotion();

    const bool schemeChanged = scheme != m_scheme || appearance != m_appearance || !m_applied;
    const bool motionChanged = reduceMotion != m_reduceMotion;
    m_appearance = appearance;
    m_scheme = scheme;
    m_reduceMotion = reduceMotion;
    if (!schemeChanged && !motionChanged)
        return;

    if (m_application && schemeChanged) {
        // Following the desktop keeps the style's own palette where it shows the desktop's scheme.
        AppAppearance palette = scheme == ColorScheme::dark ? AppAppearance::dark : AppAppearance::light;
        if (appearance == AppAppearance::system && colorSchemeOf(m_application->style()->standardPalette()) == scheme)
            palette = AppAppearance::system;
        zq::applyAppearance(*m_application, palette);
    }
    const bool first = !m_applied;
    m_applied = true;
    if (first)
        return;
    if (m_application) {
        // A palette change repaints by itself; reduce motion needs the nudge.
        for (QWidget *window : QApplication::topLevelWidgets())
            window->update();
    }
    emit changed();
}

} // namespace zq
