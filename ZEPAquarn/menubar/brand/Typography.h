#pragma once

#include "menubar/brand/Palette.h"

#include <QFont>

namespace zq {

// The two faces text is set in: the proportional system face, and the monospaced brand face for
// figures, dates, week labels, captions and links.
enum class TypeFace { system, brand };

// Letter spacing as a share of the size. Text sits a little tighter than the faces draw it, page
// titles tighter still; captions in the brand face are spaced wide.
inline constexpr qreal kTextTracking = -0.005;
inline constexpr qreal kTitleTracking = -0.01;
inline constexpr qreal kCaptionTracking = 0.06;

// One text role: a face at a pixel size and weight, a letter spacing relative to the size, and the
// palette token it is drawn in.
struct TextStyle {
    qreal size = 13;
    QFont::Weight weight = QFont::Normal;
    qreal tracking = kTextTracking;
    Palette::Token color = Palette::textPrimary;
    TypeFace face = TypeFace::system;

    constexpr TextStyle withSize(qreal other) const
    {
        TextStyle style = *this;
        style.size = other;
        return style;
    }
    constexpr TextStyle withWeight(QFont::Weight other) const
    {
        TextStyle style = *this;
        style.weight = other;
        return style;
    }
    constexpr TextStyle withColor(Palette::Token other) const
    {
        TextStyle style = *this;
        style.color = other;
        return style;
    }
};

namespace textStyle {
// The system face.
inline constexpr TextStyle pageTitle{19, QFont::Medium, kTitleTracking};
inline constexpr TextStyle pageSubtitle{11, QFont::Normal, kTextTracking, Palette::textTertiary};
inline constexpr TextStyle sectionTitle{15, QFont::Medium};
inline constexpr TextStyle rowTitle{13, QFont::Medium};
inline constexpr TextStyle body{13, QFont::Normal};
inline constexpr TextStyle value{12, QFont::Normal, kTextTracking, Palette::textSecondary};
inline constexpr TextStyle button{12, QFont::Medium};
inline constexpr TextStyle small{11, QFont::Normal, kTextTracking, Palette::textTertiary};
inline constexpr TextStyle smallButton{11, QFont::Medium};
// The brand face, untracked unless it is a caption.
inline constexpr TextStyle display{38, QFont::Light, 0, Palette::textPrimary, TypeFace::brand};
inline constexpr TextStyle figureTitle{19, QFont::Medium, 0, Palette::textPrimary, TypeFace::brand};
inline constexpr TextStyle figure{13, QFont::Normal, 0, Palette::textPrimary, TypeFace::brand};
inline constexpr TextStyle figureValue{12, QFont::Normal, 0, Palette::textSecondary, TypeFace::brand};
inline constexpr TextStyle figureSmall{11, QFont::Normal, 0, Palette::textTertiary, TypeFace::brand};
inline constexpr TextStyle caption{11, QFont::Normal, kCaptionTracking, Palette::textTertiary, TypeFace::brand};
} // namespace textStyle

// The font of a text role. Sizes are whole pixels, so that geometry matches the design at device-pixel
// ratio 1; the brand face falls back to the system's monospaced font at the same weight when it is
// missing.
QFont textFont(const TextStyle &style);

// The letter spacing a role gets, in pixels: whole 1/64-pixel steps, cut toward zero, which is what Qt
// keeps of any spacing it is given, so the value a role reports is the one drawn.
qreal letterSpacingOf(const TextStyle &style);

} // namespace zq
