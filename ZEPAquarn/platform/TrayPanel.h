#pragma once

#include <QObject>
#include <QtGui/qwindowdefs.h>

#include <cstdint>
#include <optional>

namespace zq::platform {

// What the desktop's tray tells about itself, for an icon that must read on it. Colours are opaque
// sRGB as 0xRRGGBB.
//
// A tray may state the colours it wants its icons drawn in: a foreground, and its own shades for
// error, warning and success. Where it says nothing, the icon has to look at the panel behind it.
// Emits `changed` when the tray's stated colours change, another tray takes over, or the icon window
// last asked about comes on screen or moves; again shortly after that, and after the first question
// about a new icon window, for a tray that paints its panel late. Main thread.
class TrayPanel : public QObject {
    Q_OBJECT
public:
    struct Colors {
        std::uint32_t foreground;
        std::uint32_t error;
        std::uint32_t warning;
        std::uint32_t success;
        bool operator==(const Colors &) const = default;
    };

    using QObject::QObject;

    // Starts reading the tray; `changed` follows when it states colours. A second call does nothing.
    virtual void start() {}
    // None when no tray runs or the tray states no colours.
    virtual std::optional<Colors> colors() const = 0;
    // The panel's colour under the icon shown in the native window `iconWindow`, read where that
    // window is on the screen now, in the screen's own pixels, at its four corner pixels, which a
    // round icon leaves clear. Asking the display rather than the toolkit keeps it right at any scale
    // and after the tray has moved the icon. None when the window is not shown or the screen cannot
    // be read there.
    virtual std::optional<std::uint32_t> panelColorBehind(WId iconWindow) const = 0;

signals:
    void changed();
};

} // namespace zq::platform
