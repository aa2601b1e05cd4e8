#include "window/AppAppearance.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>

namespace zq {

QString rawValue(AppAppearance appearance)
{
    switch (appearance) {
    case AppAppearance::system:
        return QStringLiteral("system");
    case AppAppearance::light:
        return QStringLiteral("light");
    case AppAppearance::dark:
        return QStringLiteral("dark");
    }
    return QStringLiteral("system");
}

std::optional<AppAppearance> appAppearance(const QString &raw)
{
    for (auto candidate : {AppAppearance::system, AppAppearance::light, AppAppearance::dark}) {
        if (rawValue(candidate) == raw)
            return candidate;
    }
    return std::nullopt;
}

AppAppearance appAppearanceOrSystem(const QString &raw)
{
    return appAppearance(raw).value_or(AppAppearance::system);
}

namespace {

QPalette lightPalette()
{
    QPalette palette(QColor(0xf4, 0xf4, 0xf2), QColor(0xfa, 0xfa, 0xf8));
    palette.setColor(QPalette::Text, QColor(0x1c, 0x1c, 0x1e));
    palette.setColor(QPalette::WindowText, QColor(0x1c, 0x1c, 0x1e));
    palette.setColor(QPalette::ButtonText, QColor(0x1c, 0x1c, 0x1e));
    palette.setColor(QPalette::Base, Qt::white);
    return palette;
}

QPalette darkPalette()
{
    QPalette palette(QColor(0x2c, 0x2c, 0x2e), QColor(0x1c, 0x1c, 0x1e));
    palette.setColor(QPalette::Text, QColor(0xf2, 0xf2, 0xf7));
    palette.setColor(QPalette::WindowText, QColor(0xf2, 0xf2, 0xf7));
    palette.setColor(QPalette::ButtonText, QColor(0xf2, 0xf2, 0xf7));
    palette.setColor(QPalette::Base, QColor(0x24, 0x24, 0x26));
    palette.setColor(QPalette::AlternateBase, QColor(0x2c, 0x2c, 0x2e));
    palette.setColor(QPalette::ToolTipBase, QColor(0x2c, 0x2c, 0x2e));
    palette.setColor(QPalette::ToolTipText, QColor(0xf2, 0xf2, 0xf7));
    palette.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0x7a));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

} // namespace

void apply(QApplication &application, AppAppearance appearance)
{
    switch (appearance) {
    case AppAppearance::system:
        application.setPalette(application.style()->standardPalette());
        break;
    case AppAppearance::light:
        application.setPalette(lightPalette());
        break;
    case AppAppearance::dark:
        application.setPalette(darkPalette());
        break;
    }
}

} // namespace zq
