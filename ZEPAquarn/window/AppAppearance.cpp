#include "window/AppAppearance.h"

#include "menubar/brand/Palette.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>

namespace zq {

AppAppearance appAppearanceOrSystem(const QString &raw)
{
    return fromRawValue<AppAppearance>(raw).value_or(AppAppearance::system);
}

namespace {

// The window palette in the application's own colours, so native widgets (fields, sliders,
// tooltips, selections) sit on the same window colour the custom views paint with.
QPalette windowPalette(ColorScheme scheme)
{
    const auto token = [scheme](Palette::Token name) { return Palette::color(name, scheme); };
    QPalette palette(token(Palette::surfaceRaised), token(Palette::windowBackground));
    for (const QPalette::ColorRole role :
         {QPalette::Text, QPalette::WindowText, QPalette::ButtonText, QPalette::ToolTipText})
        palette.setColor(role, token(Palette::textPrimary));
    palette.setColor(QPalette::Base, token(Palette::controlFill));
    palette.setColor(QPalette::AlternateBase, token(Palette::surface));
    palette.setColor(QPalette::ToolTipBase, token(Palette::surfaceRaised));
    // The control tint of the application's windows.
    palette.setColor(QPalette::Highlight, token(Palette::brandGreen));
    palette.setColor(QPalette::HighlightedText, token(Palette::onBrand));
    return palette;
}

} // namespace

void applyAppearance(QApplication &application, AppAppearance appearance)
{
    switch (appearance) {
    case AppAppearance::system:
        application.setPalette(application.style()->standardPalette());
        break;
    case AppAppearance::light:
        application.setPalette(windowPalette(ColorScheme::light));
        break;
    case AppAppearance::dark:
        application.setPalette(windowPalette(ColorScheme::dark));
        break;
    }
}

} // namespace zq
