#pragma once

#include "menubar/brand/Motion.h"
#include "pipeline/Colorway.h"
#include "platform/ColorScheme.h"

#include <QColor>
#include <QStringView>

#include <optional>
#include <span>

class QPalette;
class QWidget;

namespace zq {

// The scheme a palette shows: dark when its window colour is dark. The appearance service gives the
// application a light or a dark palette, so this is the scheme in effect where a widget draws.
ColorScheme colorSchemeOf(const QPalette &palette);
ColorScheme colorSchemeOf(const QWidget &widget);

// Reads "#RRGGBB" (the "#" is optional) as an opaque sRGB colour. Never fails: the text is read as a
// hexadecimal number up to its first other character, only the low 24 bits count, and a text with
// no hex digits gives black. There is no short form: "#FFF" is 0x000FFF.
QColor colorFromHex(QStringView text);

// The application's named colours. Each adaptive token holds a dark and a light variant (each with
// its own opacity); a fixed token is one colour in every scheme.
class Palette {
public:
    enum Token {
        windowBackground,
        surface,
        surfaceRaised,
        controlFill,
        controlHover,
        textPrimary,
        textSecondary,
        textTertiary,
        onAccent,
        hairline,
        selectionStroke,
        brandGreen,
        accentWash,
        accent,
        onBrand,
        idleAccent,
        success,
        pending,
        danger,
        locked,
        warning,
        warningWash,
        warningBorder,
        signalPurpleAccent,
        darkColorwayAccent,
        agentTealBackground,
        deepOrbitBackground,
        systemGrayAccent,
        monochromeBackground,

        // Second names the palette gives two tokens: `background` always agrees with the window's
        // own colour, and `focus` (focus rings and selection strokes) is the accent itself.
        background = windowBackground,
        focus = accent,
    };

    struct Definition {
        Token token;
        const char *name;
        bool adaptive;
        QColor dark;
        QColor light;
    };

    // The token's colour in `scheme`.
    static QColor color(Token token, ColorScheme scheme);
    // Every token once, in definition order (the second names are not repeated).
    static std::span<const Definition> definitions();
    static const Definition &definition(Token token);
};

// Colour skins: the accent of a skin, and its own background, or none when the skin sits on the
// view's neutral surface (`surface` on the ledger card, `surfaceRaised` in the gallery, gauge and pill).
Palette::Token colorwayAccent(Colorway colorway);
std::optional<Palette::Token> colorwayBackground(Colorway colorway);

// The palette's one animation: the hover change of panel rows; the pill's entrance and exit use the
// same curve and duration.
inline constexpr TimingCurve rowHoverAnimation{motion::standard, motion::rowHover};

} // namespace zq
