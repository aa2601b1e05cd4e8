#include "menubar/brand/HoverFade.h"
#include "menubar/brand/Palette.h"
#include "support/VirtualLoop.h"

#include <QWidget>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using zq::HoverFade;
using zq::rowHoverAnimation;

TEST(HoverFadeTest, FadesFromWhereItStandsOnItsWindowsTicker)
{
    zq::test::VirtualLoop loop;
    zq::Motion animations(loop);
    QWidget window;
    animations.provide(window);
    QWidget row(&window);
    HoverFade fade(row, rowHoverAnimation);
    EXPECT_TRUE(row.testAttribute(Qt::WA_Hover));
    EXPECT_EQ(fade.progress(), 0.0);
    EXPECT_FALSE(fade.isAnimating()) << "no frames before the pointer moves";

    fade.setHovering(true);
    EXPECT_TRUE(fade.hovering());
    EXPECT_TRUE(fade.isAnimating());
    EXPECT_EQ(fade.progress(), 0.0) << "the highlight fades in rather than jumping";
    loop.advance(107500us);
    const double halfway = fade.progress();
    EXPECT_NEAR(halfway, rowHoverAnimation.curve.ease(0.5), 1e-9);
    fade.setHovering(false);
    EXPECT_NEAR(fade.progress(), halfway, 1e-12) << "leaving turns back from where the fade stood, not from full";
    loop.advance(215ms);
    EXPECT_EQ(fade.progress(), 0.0);
    loop.advance(zq::motion::frame); // the frame that draws it settled
    EXPECT_FALSE(fade.isAnimating());
    EXPECT_EQ(loop.pendingCount(), 0) << "settled: no frame waits on the loop";
    fade.setHovering(false);
    EXPECT_FALSE(fade.isAnimating()) << "leaving again changes nothing";

    // Outside any window with a ticker the highlight changes at once.
    QWidget lone;
    HoverFade instant(lone, rowHoverAnimation);
    instant.setHovering(true);
    EXPECT_EQ(instant.progress(), 1.0);
    EXPECT_FALSE(instant.isAnimating());
}
