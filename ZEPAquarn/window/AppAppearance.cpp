#include "window/AppAppearance.h"

#include "menubar/brand/BrandStyle.h"
#include "menubar/brand/Palette.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QToolTip>

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
    // Placeholders are read as text: the secondary colour keeps them above 4.5:1 on a field.
    palette.setColor(QPalette::PlaceholderText, token(Palette::textSecondary));
    // The control tint of the application's windows.
    palette.setColor(QPalette::Highlight, token(Palette::brandGreen));
    palette.setColor(QPalette::HighlightedText, token(Palette::onBrand));
    return palette;
}

} // namespace

void applyAppearance(QApplication &application, AppAppearance appearance)
{
    // The stock pieces among the brand's controls are drawn by the brand's style, in the palette
    // given below, so a live switch repaints them with everything else.
    if (!qobject_cast<BrandStyle *>(application.style()))
        application.setStyle(new BrandStyle);
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
    // Tool tips keep a palette of their own, taken when the first one showed.
    QToolTip::setPalette(application.palette());
}

} // namespace zq
