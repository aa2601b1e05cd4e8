#include "menubar/brand/HoverFade.h"
#include "support/Polling.h"

#include <QWidget>

#include <gtest/gtest.h>

using zq::HoverFade;
using zq::TimingCurve;

TEST(HoverFadeTest, FadesFromWhereItStandsAndRunsFramesOnlyWhileFading)
{
    QWidget widget;
    // A minute-long fade stays near its start while the test looks at it.
    HoverFade slow(widget, TimingCurve{0.2, 0.0, 0.0, 1.0, 60});
    EXPECT_TRUE(widget.testAttribute(Qt::WA_Hover));
    EXPECT_EQ(slow.progress(), 0.0);
    EXPECT_FALSE(slow.isAnimating()) << "no frames before the pointer moves";
    slow.setHovering(true);
    EXPECT_TRUE(slow.hovering());
    EXPECT_TRUE(slow.isAnimating());
    EXPECT_LT(slow.progress(), 0.5) << "the highlight fades in rather than jumping";
    slow.setHovering(false);
    EXPECT_LT(slow.progress(), 0.5) << "leaving turns back from where the fade stood, not from full";

    // A fade without length is over at once, and its frames stop at the next tick.
    HoverFade instant(widget, TimingCurve{0.2, 0.0, 0.0, 1.0, 0});
    instant.setHovering(true);
    EXPECT_EQ(instant.progress(), 1.0);
    EXPECT_TRUE(zq::test::processEventsUntil([&] { return !instant.isAnimating(); }, std::chrono::seconds(2)));
    instant.setHovering(true);
    EXPECT_FALSE(instant.isAnimating()) << "hovering again changes nothing";
}
