#include "menubar/PillPanelWindow.h"

#include "audio/AudioEngine.h"
#include "pipeline/SettingsDefaults.h"
#include "support/FakeDictationServices.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QRegion>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>

using zq::Colorway;
using zq::PillLifecycle;
using zq::PillPanelWindow;
using zq::PillState;

namespace {

// A drawn pill over the fake services' real engine, on virtual time.
struct PillRig {
    explicit PillRig(std::function<bool()> compositing = {})
        : pill(*services.engine, Colorway::consensusMint,
               {services.loop, services.loop.clocks(), services.settings, animations, std::move(compositing)})
    {}

    zq::rt::Nanos loopNow() { return services.loop.now(); }

    zq::test::FakeDictationServices services;
    zq::Motion animations{services.loop};
    PillPanelWindow pill;
};

} // namespace

TEST(PillPanelWindowTest, TheWindowShowsOnUpdateAndLeavesAfterTheExit)
{
    PillRig rig;
    EXPECT_FALSE(rig.pill.window().isVisible());
    EXPECT_FALSE(rig.pill.isFrameTimerRunning()) << "no periodic work before the first take";

    rig.pill.update(PillState::listening());
    EXPECT_TRUE(rig.pill.window().isVisible());
    EXPECT_TRUE(rig.pill.isFrameTimerRunning());
    EXPECT_EQ(rig.pill.window().size(), PillPanelWindow::windowSize());
    EXPECT_EQ(rig.pill.lifecycle().shownAt, rig.loopNow());
    // Entered: the shadow fades out inside the window, not at its edge.
    rig.services.advance(0.3);
    const QImage shown = rig.pill.window().grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const int centre = shown.width() / 2;
    EXPECT_GT(qAlpha(shown.pixel(centre, PillPanelWindow::kPanelSize.height() - 1)), 0) << "the shadow";
    for (int x = 0; x < shown.width(); ++x)
        ASSERT_EQ(qAlpha(shown.pixel(x, shown.height() - 1)), 0) << "the shadow is cut at x " << x;

    rig.pill.update(PillState::hidden());
    EXPECT_EQ(rig.pill.lifecycle().exitAt, rig.loopNow());
    rig.services.advance(0.2);
    EXPECT_TRUE(rig.pill.window().isVisible()) << "the exit is still playing";
    rig.services.advance(0.015);
    EXPECT_FALSE(rig.pill.window().isVisible());
    EXPECT_EQ(rig.pill.lifecycle(), PillLifecycle());
    EXPECT_FALSE(rig.pill.isFrameTimerRunning()) << "a hidden pill does no periodic work";
}

TEST(PillPanelWindowTest, ANewTakeDuringTheExitCancelsTheHide)
{
    PillRig rig;
    rig.pill.update(PillState::listening());
    rig.services.advance(0.5);
    rig.pill.update(PillState::hidden());
    rig.services.advance(0.1);
    rig.pill.update(PillState::listening());
    const zq::rt::Nanos shownAgain = rig.loopNow();
    rig.services.advance(1);
    EXPECT_TRUE(rig.pill.window().isVisible());
    EXPECT_EQ(rig.pill.lifecycle().shownAt, shownAgain) << "the lifecycle reset and entered again";
    EXPECT_FALSE(rig.pill.lifecycle().exitAt);

    // Hiding twice: the second hide's completion is the one that counts.
    rig.pill.update(PillState::hidden());
    rig.services.advance(0.1);
    rig.pill.update(PillState::hidden());
    rig.services.advance(0.2);
    EXPECT_TRUE(rig.pill.window().isVisible()) << "the first hide's completion is stale";
    rig.services.advance(0.02);
    EXPECT_FALSE(rig.pill.window().isVisible());
}

TEST(PillPanelWindowTest, AVisiblePillIsNeverMoved)
{
    PillRig rig;
    rig.pill.update(PillState::listening());
    const QPoint placed = rig.pill.window().pos();
    rig.pill.window().move(placed + QPoint(40, -30)); // where a screen change would put it
    rig.pill.update(PillState::thinking());
    EXPECT_EQ(rig.pill.window().pos(), placed + QPoint(40, -30));
}

TEST(PillPanelWindowTest, PlacementIsBottomCentreOfTheUsableArea)
{
    // The pill's 100-point panel stands 24 points up; the window goes on below it for the shadow.
    EXPECT_EQ(PillPanelWindow::placement(QRect(0, 0, 1280, 800)), QRect(410, 676, 460, 148));
    // A second screen to the right with a panel along its top.
    EXPECT_EQ(PillPanelWindow::placement(QRect(1280, 30, 1920, 1050)), QRect(1280 + 730, 30 + 1050 - 124, 460, 148));
}

TEST(PillPanelWindowTest, ALiveCaptureIsTakenOverInTheSameUpdate)
{
    PillRig rig;
    ASSERT_TRUE(rig.services.startLive());
    rig.services.deliver(1); // the take's first buffer proves the capture
    ASSERT_TRUE(rig.services.engine->captureLive());
    rig.pill.update(PillState::listening());
    EXPECT_TRUE(rig.pill.lifecycle().captureLive);
    EXPECT_TRUE(rig.pill.lifecycle().captureWasLive);
    EXPECT_EQ(rig.pill.lifecycle().captureAt, rig.loopNow());
    EXPECT_EQ(rig.pill.window().accessibleName(), QStringLiteral("Listening"));

    // The engine's capture ending rolls the bars up from its levels.
    rig.services.deliver(20, 0.3f);
    const zq::LevelHistory levels = rig.services.engine->history();
    rig.services.controller->handleTriggerAction(zq::TriggerAction::finish);
    EXPECT_FALSE(rig.pill.lifecycle().captureLive);
    ASSERT_TRUE(rig.pill.lifecycle().rollupAt);
    EXPECT_EQ(rig.pill.lifecycle().rollupHistory, levels);
}

TEST(PillPanelWindowTest, ThePillReadsTheLevelsOnTheEnginesClock)
{
    PillRig rig;
    ASSERT_TRUE(rig.services.startLive());
    rig.pill.update(PillState::listening());
    rig.services.deliver(30, 0.4f);
    rig.services.loop.clocks().shiftWall(std::chrono::hours(1)); // network time steps the wall clock
    EXPECT_TRUE(rig.pill.lifecycle().captureLive) << "the capture edge reached the pill";
    const zq::LevelHistory &levels = rig.services.engine->history();
    ASSERT_GT(levels.count(), 0);
    const int newest = levels.count() < zq::LevelHistory::kCapacity
                           ? levels.count() - 1
                           : (levels.head() + zq::LevelHistory::kCapacity - 1) % zq::LevelHistory::kCapacity;
    const zq::rt::Nanos sampleAt = levels.at(newest).t;
    const zq::rt::Nanos now = rig.pill.now();
    // The newest level is stamped a little ahead of or at the moment it arrived, never seconds away.
    EXPECT_NEAR(zq::rt::Seconds(now - sampleAt).count(), 0, 0.3);
    // So the meter's staggered reads land inside the history, not past its ends.
    const zq::PillView frame = rig.pill.frame();
    EXPECT_GT(frame.liveHistory.level(now, zq::rt::seconds(0.055 * 3)), 0.0);
    EXPECT_TRUE(frame.engineCaptureLive);
}

TEST(PillPanelWindowTest, SilenceRepaintsNothingAndAVoiceRepaintsOnlyTheMeter)
{
    PillRig rig;
    ASSERT_TRUE(rig.services.startLive());
    rig.pill.update(PillState::listening());
    rig.services.deliver(10, 0.0f);
    for (int i = 0; i < 10; ++i) { // the entrance and the bars' reveal play out
        rig.services.advance(0.1);
        rig.services.deliver(1, 0.0f);
    }
    const std::uint64_t settled = rig.pill.repaintedFrames();
    const std::uint64_t drawn = rig.pill.drawnFrames();
    EXPECT_GT(settled, 3u) << "the entrance was drawn";
    for (int i = 0; i < 10; ++i) {
        rig.services.advance(0.1);
        rig.services.deliver(10, 0.0f);
    }
    EXPECT_TRUE(rig.pill.isFrameTimerRunning());
    EXPECT_EQ(rig.pill.repaintedFrames(), settled) << "a second of silence changes no pixel";
    EXPECT_EQ(rig.pill.drawnFrames(), drawn) << "nor is a frame of it drawn off screen";

    rig.services.deliver(10, 0.5f);
    rig.services.advance(0.1);
    EXPECT_GT(rig.pill.repaintedFrames(), settled);
    const QRect area = rig.pill.lastRepaint();
    const QRect window(QPoint(0, 0), PillPanelWindow::kPanelSize);
    EXPECT_TRUE(window.contains(area));
    EXPECT_LT(area.width() * area.height() * 10, window.width() * window.height())
        << "the voice moves the bars, not the capsule: " << area.width() << "x" << area.height();
}

TEST(PillPanelWindowTest, AnythingThatChangesThePictureAfterSilenceReachesTheWindow)
{
    const auto otherScheme = [](PillRig &rig) {
        QPalette palette = rig.pill.window().palette();
        const bool dark = zq::colorSchemeOf(rig.pill.window()) == zq::ColorScheme::dark;
        palette.setColor(QPalette::Window, dark ? QColor(Qt::white) : QColor(Qt::black));
        rig.pill.window().setPalette(palette);
    };
    const struct {
        const char *change;
        std::function<void(PillRig &)> make;
    } cases[] = {
        {"a voice", [](PillRig &rig) { rig.services.deliver(10, 0.5f); }},
        {"the take locks", [](PillRig &rig) { rig.pill.update(PillState::locked()); }},
        {"the take ends", [](PillRig &rig) { rig.pill.update(PillState::thinking()); }},
        {"a notice", [](PillRig &rig) { rig.pill.update(PillState::muted(QStringLiteral("No microphone."))); }},
        {"the colour scheme", otherScheme},
        {"the colorway", [](PillRig &rig) { rig.pill.setColorway(Colorway::deepOrbit); }},
        {"the animation",
         [](PillRig &rig) { rig.services.settings.setValue(zq::keys::pillAnimation, QStringLiteral("surface")); }},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.change);
        PillRig rig;
        ASSERT_TRUE(rig.services.startLive());
        rig.pill.update(PillState::listening());
        const zq::rt::Nanos shownAt = rig.services.loop.now();
        for (int i = 0; i < 10; ++i) { // the entrance and the reveal play out, then silence
            rig.services.advance(0.1);
            rig.services.deliver(1, 0.0f);
        }
        const std::uint64_t silent = rig.pill.repaintedFrames();
        test.make(rig);
        // A few frames on, to the instant of one: frames run every liveFrame from the show.
        const auto frame = std::chrono::duration_cast<zq::rt::Nanos>(zq::motion::liveFrame);
        rig.services.loop.advance(3 * frame - (rig.services.loop.now() - shownAt) % frame);
        EXPECT_GT(rig.pill.repaintedFrames(), silent);

        // What the window shows is what the view draws at that frame, pixel for pixel.
        QImage expected(PillPanelWindow::windowSize(), QImage::Format_ARGB32_Premultiplied);
        expected.fill(Qt::transparent);
        QPainter painter(&expected);
        rig.pill.frame().paint(painter, QRectF(QPointF(0, 0), QSizeF(PillPanelWindow::kPanelSize)), rig.pill.now());
        painter.end();
        const QImage shown = rig.pill.window().grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QRect stale = PillPanelWindow::changedArea(expected, shown);
        EXPECT_TRUE(stale.isEmpty()) << "stale in " << stale.width() << "x" << stale.height();
    }
}

TEST(PillPanelWindowTest, TheChangedAreaBoundsEveryDifferingPixel)
{
    QImage before(40, 20, QImage::Format_ARGB32_Premultiplied);
    before.fill(Qt::transparent);
    QImage after = before;
    EXPECT_TRUE(PillPanelWindow::changedArea(before, after).isEmpty());
    after.setPixel(3, 17, qRgba(1, 2, 3, 255));
    after.setPixel(39, 2, qRgba(9, 9, 9, 255));
    EXPECT_EQ(PillPanelWindow::changedArea(before, after), QRect(QPoint(3, 2), QPoint(39, 17)));
    EXPECT_EQ(PillPanelWindow::changedArea(QImage(), after), after.rect()) << "nothing shown yet: all of it";
}

TEST(PillPanelWindowTest, TheStyleAndColorwayComeFromTheSettingsAndTheApplication)
{
    PillRig rig;
    EXPECT_EQ(rig.pill.frame().animationStyle, zq::PillAnimationStyle::logoBars);
    rig.services.settings.setValue(zq::keys::pillAnimation, QStringLiteral("surface"));
    EXPECT_EQ(rig.pill.frame().animationStyle, zq::PillAnimationStyle::surface);
    rig.services.settings.setValue(zq::keys::pillAnimation, QStringLiteral("glitter"));
    EXPECT_EQ(rig.pill.frame().animationStyle, zq::PillAnimationStyle::logoBars);
    rig.pill.setColorway(Colorway::deepOrbit);
    EXPECT_EQ(rig.pill.frame().colorway, Colorway::deepOrbit);
}

TEST(PillPanelWindowTest, WithoutACompositorTheWindowLeavesAtTheFirstExitFrame)
{
    bool compositing = false;
    PillRig rig([&] { return compositing; });
    rig.pill.update(PillState::listening());
    // No fade to play: the first frame already shows the mark, not a bare capsule.
    const QImage first = rig.pill.window().grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QColor fill = first.pixelColor(230, 36);
    int marked = 0;
    for (int y = 46; y < 70; ++y) // the entry starts 8 points below the pill's place
        for (int x = 218; x < 242; ++x)
            marked += std::abs(first.pixelColor(x, y).lightness() - fill.lightness()) > 40;
    EXPECT_GT(marked, 20) << "a blank first frame";
    rig.services.advance(0.5);
    const QPoint placed = rig.pill.window().pos();
    EXPECT_FALSE(rig.pill.window().mask().isEmpty()) << "shaped to the capsule";

    // A shaped window is opaque: its capsule cannot fade, so the window goes as the exit begins.
    rig.pill.update(PillState::hidden());
    EXPECT_FALSE(rig.pill.window().isVisible());
    EXPECT_FALSE(rig.pill.isFrameTimerRunning());
    EXPECT_TRUE(rig.pill.lifecycle().exitAt) << "the exit still times the hide";

    // A take within the exit brings the pill back where it stood.
    rig.services.advance(0.1);
    rig.pill.window().move(placed + QPoint(7, 0)); // so a new placement would show
    rig.pill.update(PillState::listening());
    EXPECT_TRUE(rig.pill.window().isVisible());
    EXPECT_EQ(rig.pill.window().pos(), placed + QPoint(7, 0));
    rig.services.advance(0.5);
    EXPECT_TRUE(rig.pill.window().isVisible()) << "the stale hide did nothing";
    rig.pill.update(PillState::hidden());
    rig.services.advance(0.215);
    EXPECT_EQ(rig.pill.lifecycle(), PillLifecycle());

    // A compositing manager started meanwhile: the next pill is translucent and plays its exit.
    compositing = true;
    rig.pill.update(PillState::listening());
    EXPECT_TRUE(rig.pill.isCompositing());
    EXPECT_TRUE(rig.pill.window().mask().isEmpty());
    rig.pill.update(PillState::hidden());
    rig.services.advance(0.2);
    EXPECT_TRUE(rig.pill.window().isVisible()) << "the fade is playing";
    rig.services.advance(0.015);
    EXPECT_FALSE(rig.pill.window().isVisible());
}

TEST(PillPanelWindowTest, TheShapeHoldsEveryPixelTheCapsuleTouches)
{
    // Narrow, wide, mid-entry (scaled, off the pixel grid) and a muted capsule with its words.
    const QRectF capsules[] = {QRectF(212, 32, 36, 36), QRectF(196.5, 32, 67, 36), QRectF(212.43, 35.9, 35.14, 35.14),
                               QRectF(45, 32, 370, 36)};
    for (const QRectF &capsule : capsules) {
        SCOPED_TRACE(capsule.x());
        QImage drawn(PillPanelWindow::kPanelSize, QImage::Format_ARGB32_Premultiplied);
        drawn.fill(Qt::transparent);
        QPainter painter(&drawn);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        const double radius = capsule.height() / 2;
        path.addRoundedRect(capsule, radius, radius);
        painter.fillPath(path, Qt::black);
        painter.end();

        const QRegion shape = PillPanelWindow::capsuleShape(capsule);
        int inked = 0, spare = 0;
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x) {
                const bool ink = qAlpha(drawn.pixel(x, y)) > 0;
                inked += ink;
                if (ink) {
                    EXPECT_TRUE(shape.contains(QPoint(x, y))) << "cut at " << x << "," << y;
                } else if (shape.contains(QPoint(x, y))) {
                    ++spare;
                }
            }
        // No more than the odd pixel per row that the capsule only grazes.
        EXPECT_LE(spare, 2 * static_cast<int>(std::ceil(capsule.height()) + 1)) << "of " << inked;
    }
}
