#pragma once

#include "platform/ColorScheme.h"

#include <QObject>

#include <optional>

namespace zq::platform {

// What the desktop says about appearance: its preferred colour scheme (none when it states no
// preference) and whether the user asked for less motion. Emits `changed` when either changes.
// The real source is the XDG settings portal (PortalDesktopAppearance); tests inject their own.
class DesktopAppearance : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual std::optional<ColorScheme> colorScheme() const = 0;
    virtual bool reduceMotion() const = 0;

signals:
    void changed();
};

} // namespace zq::platform
