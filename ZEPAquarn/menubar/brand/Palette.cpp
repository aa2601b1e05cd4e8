#include "menubar/brand/Palette.h"

#include <QPalette>
#include <QWidget>

#include <array>
#include <limits>

namespace zq {

ColorScheme colorSchemeOf(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128 ? ColorScheme::dark : ColorScheme::light;
}

ColorScheme colorSchemeOf(const QWidget &widget)
{
    return colorSchemeOf(widget.palette());
}

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Reads a hexadecimal number the way a text scanner does: leading white space skipped, an optional
// "0x", then digits up to the first other character; a number too large saturates.
quint64 scanHex(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (i + 2 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X') &&
        hexDigit(text[i + 2]) >= 0)
        i += 2;
    quint64 value = 0;
    bool overflow = false;
    for (; i < text.size(); ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0)
            break;
        if (value > (std::numeric_limits<quint64>::max() >> 4))
            overflow = true;
        value = (value << 4) | quint64(digit);
    }
    return overflow ? std::numeric_limits<quint64>::max() : value;
}

struct TokenText {
    Palette::Token token;
    const char *name;
    bool adaptive;
    const char *dark;
    double darkOpacity;
    const char *light;
    double lightOpacity;
};

// The palette, in definition order. Fixed tokens have the same colour on both sides.
constexpr std::array kTokenTexts{
    TokenText{Palette::windowBackground, "windowBackground", true, "#141417", 1, "#FFFFFF", 1},
    TokenText{Palette::surface, "surface", true, "#1A1A1E", 1, "#FFFFFF", 1},
    TokenText{Palette::surfaceRaised, "surfaceRaised", true, "#212126", 1, "#FFFFFF", 1},
    TokenText{Palette::controlFill, "controlFill", true, "#101013", 1, "#F6F5FD", 1},
    TokenText{Palette::controlHover, "controlHover", true, "#26262B", 1, "#F1F0F8", 1},
    TokenText{Palette::textPrimary, "textPrimary", true, "#F6F5FD", 1, "#141417", 1},
    TokenText{Palette::textSecondary, "textSecondary", true, "#A0A0A8", 1, "#575757", 1},
    TokenText{Palette::textTertiary, "textTertiary", true, "#6C6C74", 1, "#8E8E94", 1},
    TokenText{Palette::onAccent, "onAccent", true, "#141417", 1, "#FFFFFF", 1},
    TokenText{Palette::hairline, "hairline", true, "#F6F5FD", 0.1, "#141417", 0.1},
    TokenText{Palette::selectionStroke, "selectionStroke", true, "#A4DCB5", 0.34, "#055147", 1},
    TokenText{Palette::brandGreen, "brandGreen", false, "#055147", 1, "#055147", 1},
    TokenText{Palette::accentWash, "accentWash", true, "#A4DCB5", 0.14, "#055147", 0.08},
    TokenText{Palette::accent, "accent", true, "#A4DCB5", 1, "#055147", 1},
    TokenText{Palette::onBrand, "onBrand", false, "#FFFFFF", 1, "#FFFFFF", 1},
    TokenText{Palette::idleAccent, "idleAccent", true, "#A4DCB5", 1, "#055147", 1},
    TokenText{Palette::success, "success", true, "#A4DCB5", 1, "#055147", 1},
    TokenText{Palette::pending, "pending", true, "#6C6C74", 1, "#B4B4BA", 1},
    TokenText{Palette::danger, "danger", true, "#FF534C", 1, "#D93A33", 1},
    TokenText{Palette::locked, "locked", true, "#3A3A40", 1, "#DCDCE2", 1},
    TokenText{Palette::warning, "warning", true, "#F5A623", 1, "#B45309", 1},
    TokenText{Palette::warningWash, "warningWash", true, "#F5A623", 0.16, "#F5A623", 0.16},
    TokenText{Palette::warningBorder, "warningBorder", true, "#F5A623", 0.38, "#B45309", 0.45},
    TokenText{Palette::signalPurpleAccent, "signalPurpleAccent", false, "#7664EA", 1, "#7664EA", 1},
    TokenText{Palette::darkColorwayAccent, "darkColorwayAccent", false, "#F6F5FD", 1, "#F6F5FD", 1},
    TokenText{Palette::agentTealBackground, "agentTealBackground", false, "#055147", 1, "#055147", 1},
    TokenText{Palette::deepOrbitBackground, "deepOrbitBackground", false, "#0F292A", 1, "#0F292A", 1},
    TokenText{Palette::systemGrayAccent, "systemGrayAccent", true, "#C5C5C5", 1, "#575757", 1},
    TokenText{Palette::monochromeBackground, "monochromeBackground", false, "#141417", 1, "#141417", 1},
};

QColor withOpacity(QColor color, double opacity)
{
    color.setAlphaF(float(opacity));
    return color;
}

// Parsed once, on first use; a function-local static is safe when two threads get here together.
const std::array<Palette::Definition, kTokenTexts.size()> &definitionTable()
{
    static const auto table = [] {
        std::array<Palette::Definition, kTokenTexts.size()> built{};
        for (std::size_t i = 0; i < kTokenTexts.size(); ++i) {
            const TokenText &text = kTokenTexts[i];
            Q_ASSERT(std::size_t(text.token) == i);
            built[i] = {text.token, text.name, text.adaptive,
                        withOpacity(colorFromHex(QString::fromLatin1(text.dark)), text.darkOpacity),
                        withOpacity(colorFromHex(QString::fromLatin1(text.light)), text.lightOpacity)};
        }
        return built;
    }();
    return table;
}

} // namespace

QColor colorFromHex(QStringView text)
{
    if (text.startsWith(u'#'))
        text = text.mid(1);
    const quint64 value = scanHex(text);
    return QColor::fromRgb(int((value >> 16) & 0xFF), int((value >> 8) & 0xFF), int(value & 0xFF));
}

QColor Palette::color(Token token, ColorScheme scheme)
{
    const Definition &entry = definition(token);
    if (!entry.adaptive)
        return entry.light;
    return scheme == ColorScheme::dark ? entry.dark : entry.light;
}

std::span<const Palette::Definition> Palette::definitions()
{
    return definitionTable();
}

const Palette::Definition &Palette::definition(Token token)
{
    return definitionTable().at(std::size_t(token));
}

Palette::Token colorwayAccent(Colorway colorway)
{
    switch (colorway) {
    case Colorway::consensusMint:
        return Palette::accent;
    case Colorway::signalPurple:
        return Palette::signalPurpleAccent;
    case Colorway::agentTeal:
    case Colorway::deepOrbit:
    case Colorway::monochrome:
        return Palette::darkColorwayAccent;
    case Colorway::systemGray:
        return Palette::systemGrayAccent;
    }
    return Palette::accent;
}

std::optional<Palette::Token> colorwayBackground(Colorway colorway)
{
    switch (colorway) {
    case Colorway::agentTeal:
        return Palette::agentTealBackground;
    case Colorway::deepOrbit:
        return Palette::deepOrbitBackground;
    case Colorway::monochrome:
        return Palette::monochromeBackground;
    case Colorway::consensusMint:
    case Colorway::signalPurple:
    case Colorway::systemGray:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace zq
