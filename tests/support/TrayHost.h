#pragma once

#include "support/ChildProcess.h"

#include <QRgb>
#include <QString>

#include <optional>

namespace zq::test {

// A real XEmbed tray for tests: trayer at the top right of `display`, its panel a solid `tint` when
// one is given. The test can make its manager state colours for the icons, as a tray that tints its
// icons does. One tray per display at a time.
class TrayHost {
public:
    TrayHost() = default;
    ~TrayHost();
    TrayHost(const TrayHost &) = delete;
    TrayHost &operator=(const TrayHost &) = delete;

    // Returns once the tray owns the tray selection; false with errorString() set.
    bool start(const QString &display, std::optional<QRgb> tint = std::nullopt);
    QString errorString() const { return m_error; }

    // Writes _NET_SYSTEM_TRAY_COLORS on the manager's window (the other two colours stay grey).
    bool setColors(QRgb foreground, QRgb error);

private:
    unsigned long manager() const;

    QString m_display;
    ChildProcess m_tray;
    QString m_error;
};

} // namespace zq::test
