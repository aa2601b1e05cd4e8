// Every animation of the application runs on one ticker and obeys one animations-off switch.
#include "menubar/MenuPanel.h"
#include "menubar/MenuPanelModel.h"
#include "menubar/PillPanelWindow.h"
#include "menubar/brand/HoverFade.h"
#include "menubar/brand/Motion.h"
#include "menubar/brand/ZepaSpinner.h"
#include "pipeline/SettingsDefaults.h"
#include "rewards/motion/MotionStore.h"
#include "rewards/motion/PillAnimationGalleryView.h"
#include "support/FakeDictationServices.h"
#include "window/settings/SettingsRows.h"

#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QScrollArea>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace std::chrono_literals;
using namespace zq;

namespace {

// A window lent a ticker on the rig's virtual loop.
struct Stage {
    explicit Stage(bool animationsOff)
    {
        registerDefaults(rig.settings);
        motion.setAnimationsOff(animationsOff);
        motion.provide(window);
        window.resize(480, 480);
        window.show();
    }

    test::FakeDictationServices rig;
    Motion motion{rig.loop};
    QWidget window;
};

// An animation once set going.
struct Started {
    // Drawn where it is going, and nothing left to move.
    std::function<bool()> atRest;
    // What animations off takes away at once.
    std::function<bool()> withoutMovement;
    // Ends what runs for as long as it is shown.
    std::function<void()> end = [] {};
    std::shared_ptr<void> held;
};

struct Animation {
    const char *name;
    // The pill and the panel's reveal keep their fades with animations off.
    bool keepsFade;
    std::function<Started(Stage &)> start;
};

// A hovered row and its fade.
struct HoverRow {
    explicit HoverRow(QWidget &window) : row(&window) {}
    QWidget row;
    HoverFade fade{row, rowHoverAnimation};
};

// The tray panel, which is a window of its own, and its model.
struct Panel {
    explicit Panel(test::FakeDictationServices &rig)
        : model(MenuPanelModel::Services{*rig.controller, rig.settings, rig.loop}), panel(model)
    {}
    MenuPanelModel model;
    MenuPanel panel;
};

const std::vector<Animation> &animations()
{
    static const std::vector<Animation> table = {
        {"row hover", false,
         [](Stage &stage) {
             auto hover = std::make_shared<HoverRow>(stage.window);
             hover->fade.setHovering(true);
             const auto atRest = [fade = &hover->fade] { return fade->progress() == 1.0; };
             return Started{atRest, atRest, [] {}, hover};
         }},
        {"spinner", false,
         [](Stage &stage) {
             QPointer<ZepaSpinner> spinner = new ZepaSpinner(16, &stage.window);
             spinner->show();
             const auto atRest = [spinner] { return !spinner->isAnimating(); };
             return Started{atRest, atRest, [spinner] { spinner->hide(); }, nullptr};
         }},
        {"question chevron and answer", false,
         [](Stage &stage) {
             QPointer<SettingsFAQRow> row =
                 new SettingsFAQRow(QStringLiteral("Why?"), QStringLiteral("Because."), &stage.window);
             row->show();
             row->setExpanded(true);
             // The answer opens with the turn, not at once.
             const auto opened = [row] {
                 return row->answer()->isVisible() && row->answer()->maximumHeight() == QWIDGETSIZE_MAX;
             };
             const auto atRest = [row, opened] {
                 const QList<SymbolView *> symbols = row->findChildren<SymbolView *>();
                 return std::any_of(symbols.begin(), symbols.end(),
                                    [](SymbolView *s) { return s->rotation() == 180; }) &&
                        opened();
             };
             return Started{atRest, opened, [] {}, nullptr};
         }},
        {"animation gallery", false,
         [](Stage &stage) {
             auto store = std::make_shared<MotionStore>(stage.rig.settings);
             QPointer<PillAnimationGalleryView> gallery =
                 new PillAnimationGalleryView(*store, 0, Colorway::consensusMint, {}, &stage.window);
             gallery->show();
             const auto atRest = [gallery] { return !gallery->isAnimating(); };
             return Started{atRest, atRest, [gallery] { gallery->hide(); }, store};
         }},
        {"panel reveal", true,
         [](Stage &stage) {
             auto held = std::make_shared<Panel>(stage.rig);
             MenuPanel *panel = &held->panel;
             stage.motion.provide(*panel);
             panel->show();
             panel->appear();
             const auto unmoved = [panel] { return panel->scrollArea()->y() == 0; };
             const auto atRest = [panel, unmoved] {
                 const auto *fade = qobject_cast<QGraphicsOpacityEffect *>(panel->scrollArea()->graphicsEffect());
                 return fade && fade->opacity() == 1.0 && unmoved();
             };
             return Started{atRest, unmoved, [] {}, held};
         }},
        {"pill", true,
         [](Stage &stage) {
             test::FakeDictationServices &rig = stage.rig;
             auto held = std::make_shared<PillPanelWindow>(
                 *rig.engine, Colorway::consensusMint,
                 PillPanelWindow::Services{rig.loop, rig.loop.clocks(), rig.settings, stage.motion});
             PillPanelWindow *pill = held.get();
             pill->update(PillState::listening());
             return Started{[pill] { return !pill->window().isVisible(); },
                            [pill] { return pill->frame().reduceMotion; },
                            [pill] { pill->update(PillState::hidden()); }, held};
         }},
    };
    return table;
}

} // namespace

TEST(AnimationsTest, EachSettlesAtOnceWithAnimationsOffAndTheTickerStopsWhenItHasSettled)
{
    for (const Animation &animation : animations()) {
        SCOPED_TRACE(animation.name);
        {
            Stage stage(true);
            const Started started = animation.start(stage);
            EXPECT_TRUE(started.withoutMovement());
            EXPECT_EQ(started.atRest(), !animation.keepsFade);
            EXPECT_EQ(stage.motion.isTicking(), animation.keepsFade);
            started.end();
            stage.rig.loop.advance(1s);
            EXPECT_TRUE(started.atRest());
            EXPECT_FALSE(stage.motion.isTicking());
        }
        {
            Stage stage(false);
            const Started started = animation.start(stage);
            stage.rig.loop.advance(50ms);
            EXPECT_FALSE(started.withoutMovement()) << "with animations on it moves";
            EXPECT_FALSE(started.atRest());
            EXPECT_TRUE(stage.motion.isTicking());
            started.end();
            stage.rig.loop.advance(1s);
            EXPECT_TRUE(started.atRest());
            EXPECT_FALSE(stage.motion.isTicking());
        }
    }
}

TEST(AnimationsTest, TheTickerRunsUntilTheLastAnimationHasSettled)
{
    Stage stage(false);
    std::vector<Started> running;
    for (const Animation &animation : animations())
        running.push_back(animation.start(stage));
    for (const Started &started : running)
        started.end();
    // The hovers, the chevron and the pill's exit are over; the panel's 0.79 s reveal is not.
    stage.rig.loop.advance(500ms);
    EXPECT_TRUE(stage.motion.isTicking());
    EXPECT_EQ(std::count_if(running.begin(), running.end(), [](const Started &s) { return !s.atRest(); }), 1);
    stage.rig.loop.advance(MenuPanel::kRevealCurve.duration - 500ms + motion::frame);
    EXPECT_FALSE(stage.motion.isTicking());
    for (const Started &started : running)
        EXPECT_TRUE(started.atRest());
}
