#include "menubar/brand/Typography.h"

#include <QFontInfo>
#include <QFontMetricsF>

#include <gtest/gtest.h>

namespace zq {
namespace {

TEST(TypographyTest, EachRoleGetsItsFaceWholePixelsAndTrackingInWholeSteps)
{
    const QString brandFamily = QStringLiteral("Chivo Mono");
    const struct {
        const char *role;
        TextStyle style;
        int pixelSize;
        QFont::Weight weight;
        bool brand;
        qreal spacing; // pixels, a whole number of 1/64 steps
    } cases[] = {
        // −0.055 is 3.52 steps, cut to 3.
        {"small", textStyle::small, 11, QFont::Normal, false, -3.0 / 64},
        {"row title", textStyle::rowTitle, 13, QFont::Medium, false, -4.0 / 64},
        {"page title", textStyle::pageTitle, 19, QFont::Medium, false, -12.0 / 64},
        {"caption", textStyle::caption, 11, QFont::Normal, true, 42.0 / 64},
        {"display", textStyle::display, 38, QFont::Light, true, 0},
        {"figure", textStyle::figureValue, 12, QFont::Normal, true, 0},
        // A size between pixels rounds half away from zero; its tracking follows the size asked for.
        {"shrunk name", textStyle::small.withSize(10.5).withWeight(QFont::Medium), 11, QFont::Medium, false, -3.0 / 64},
        {"tiny", textStyle::figureSmall.withSize(0.2), 1, QFont::Normal, true, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.role);
        const QFont font = textFont(c.style);
        EXPECT_EQ(font.pixelSize(), c.pixelSize);
        EXPECT_EQ(font.weight(), c.weight);
        EXPECT_EQ(letterSpacingOf(c.style), c.spacing);
        EXPECT_EQ(font.letterSpacing(), c.spacing);
        if (c.spacing != 0) {
            EXPECT_EQ(font.letterSpacingType(), QFont::AbsoluteSpacing);
        }
        EXPECT_EQ(QFontInfo(font).family() == brandFamily, c.brand) << QFontInfo(font).family().toStdString();
    }

    // Tracking widens a line: the caption's spread letters take more room than the face's own.
    const QString word = QStringLiteral("QUARN");
    QFont untracked = textFont(textStyle::caption);
    untracked.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    EXPECT_NEAR(QFontMetricsF(textFont(textStyle::caption)).horizontalAdvance(word) -
                    QFontMetricsF(untracked).horizontalAdvance(word),
                5 * 42.0 / 64, 0.05);
}

} // namespace
} // namespace zq
