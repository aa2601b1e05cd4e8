#pragma once

#include "menubar/brand/Palette.h"
#include "platform/DesktopAppearance.h"
#include "window/AppAppearance.h"

#include <QObject>

class QApplication;

namespace zq {

namespace rt {
class Settings;
}

// The application's appearance: the "appearance" setting over what the desktop says. It gives the
// application a light or a dark palette (so colorSchemeOf(widget) is the scheme in effect), and
// repaints every open window when the scheme or reduce motion changes. Main thread only.
class AppearanceService : public QObject {
    Q_OBJECT
public:
    // `desktop` may be null: then the desktop states no preference. `application` may be null (tests
    // of the resolution alone); then no palette is applied.
    AppearanceService(rt::Settings &settings, platform::DesktopAppearance *desktop, QApplication *application,
                      QObject *parent = nullptr);

    // The stored choice; anything but the three raw values reads as `system`.
    AppAppearance appearance() const { return m_appearance; }
    // The scheme views draw in: forced by the choice, else the desktop's, else light.
    ColorScheme colorScheme() const { return m_scheme; }
    // Whether animated views keep only their fades.
    bool reduceMotion() const { return m_reduceMotion; }

signals:
    // The scheme or reduce motion changed (after the palette was applied and windows asked to repaint).
    void changed();

private:
    void refresh();

    rt::Settings &m_settings;
    platform::DesktopAppearance *m_desktop;
    QApplication *m_application;
    AppAppearance m_appearance = AppAppearance::system;
    ColorScheme m_scheme = ColorScheme::light;
    bool m_reduceMotion = false;
    bool m_applied = false;
};

} // namespace zq
