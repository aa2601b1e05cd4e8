// The tray panel rendered offscreen in light and dark, with a few probes per state.
#include "menubar/MenuControlRow.h"
#include "menubar/MenuPanel.h"
#include "pipeline/TriggerReach.h"

#include "menubar/MenuActionRow.h"
#include "menubar/MenuBanners.h"
#include "menubar/MenuWeekRecap.h"
#include "menubar/brand/FocusRing.h"
#include "menubar/brand/ZepaButton.h"
#include "menubar/brand/ZepaMenuPicker.h"
#include "menubar/brand/ZepaSwitch.h"
#include "pipeline/DictationController.h"
#include "pipeline/SettingsDefaults.h"
#include "records/HistoryStore.h"
#include "records/IncidentStore.h"
#include "records/StatsStore.h"
#include "rewards/milestones/MilestoneLine.h"
#include "rewards/updates/Updater.h"
#include "support/Contrast.h"
#include "support/FakeDictationServices.h"
#include "support/FakePermissionProbe.h"
#include "support/FakeUpdateFramework.h"
#include "support/FakeUserNotifications.h"
#include "support/ViewRender.h"
#include "window/AppWindowModel.h"

#include <QApplication>
#include <QCursor>
#include <QLayout>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

using namespace zq;
using zq::test::pixelAt;
using zq::test::sameColor;
using zq::test::strongestContrast;

namespace {

// The toolkit's own window colours, which the panel must not show: it draws the palette's background.
void wear(QWidget &widget, ColorScheme scheme)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window,
                     scheme == ColorScheme::dark ? QColor(0x35, 0x35, 0x35) : QColor(0xEF, 0xEF, 0xEF));
    widget.setPalette(palette);
}

QString schemeName(ColorScheme scheme)
{
    return scheme == ColorScheme::dark ? QStringLiteral("dark") : QStringLiteral("light");
}

class MenuPanelViewTest : public ::testing::TestWithParam<ColorScheme> {
protected:
    MenuPanelViewTest()
        : windowModel(
              rig.loop, [] { return std::vector<AppWindowHandle>{}; }, [] {})
    {
        auto owned = std::make_unique<zq::test::FakeUpdateFramework>();
        framework = owned.get();
        updater =
            std::make_unique<Updater>(UpdateAvailabilityStore(rig.settings, QStringLiteral("4")),
                                      UpdateReminder::live(rig.settings, rig.loop.clocks(), rig.loop, notifications),
                                      std::move(owned), [this] { return rig.loop.clocks().wallNow(); });
        milestones = std::make_unique<MilestoneStore>(rig.settings);
    }

    MenuPanel &make(double screenHeight = 1000)
    {
        MenuPanelModel::Services services{*rig.controller, rig.settings, rig.loop};
        services.updater = updater.get();
        services.milestones = milestones.get();
        services.appWindow = &windowModel;
        services.listInputDevices = [] {
            AudioInputDevice builtIn;
            builtIn.uid = QStringLiteral("builtin");
            builtIn.name = QStringLiteral("Built-in Microphone");
            builtIn.transport = InputTransport::builtIn;
            return std::vector<AudioInputDevice>{builtIn};
        };
        services.copyText = [](const std::optional<QString> &text) { return text.has_value(); };
        services.now = [this] { return rig.loop.clocks().wallNow(); };
        services.locale = QLocale(QLocale::English, QLocale::UnitedStates);
        services.triggerReach = &reach;
        services.openTriggerSettings = [this] { ++recorderOpened; };
        model = std::make_unique<MenuPanelModel>(std::move(services));
        panel = std::make_unique<MenuPanel>(*model);
        panel->setScreenHeight([screenHeight] { return std::optional<double>(screenHeight); });
        wear(*panel, GetParam());
        panel->show();
        panel->appear();
        panel->setRevealElapsed(MenuPanel::kRevealCurve.duration);
        panel->refresh();
        return *panel;
    }

    QImage render(const QString &name)
    {
        panel->resize(panel->width(), panel->height());
        panel->ensurePolished();
        if (QLayout *layout = panel->scrollArea()->widget()->layout())
            layout->activate();
        const QImage image = zq::test::renderWidget(*panel);
        zq::test::saveRender(image, QStringLiteral("menu-panel-%1-%2").arg(name, schemeName(GetParam())));
        return image;
    }

    // The widget's rectangle in the panel's coordinates.
    QRectF where(QWidget *widget) const { return QRectF(widget->mapTo(panel.get(), QPoint(0, 0)), widget->size()); }

    QColor token(Palette::Token t) const { return Palette::color(t, GetParam()); }

    zq::test::FakeDictationServices rig;
    zq::test::FakeUserNotifications notifications;
    zq::test::FakeUpdateFramework *framework = nullptr;
    std::unique_ptr<Updater> updater;
    std::unique_ptr<MilestoneStore> milestones;
    AppWindowModel windowModel;
    std::optional<platform::KeyboardMap> keyboard = zq::test::FakePermissionProbe::keyboardWithFn(true);
    TriggerReach reach{rig.settings, [this] { return keyboard; }};
    int recorderOpened = 0;
    std::unique_ptr<MenuPanelModel> model;
    std::unique_ptr<MenuPanel> panel;
};

} // namespace

TEST_P(MenuPanelViewTest, DefaultPanelShowsHeaderRecapAndThreeCards)
{
    rig.controller->ensureHotkeyTapRunning();
    MenuPanel &p = make();
    const QImage image = render(QStringLiteral("default"));
    EXPECT_EQ(image.width(), 372);
    EXPECT_FALSE(p.isScrolling());
    EXPECT_DOUBLE_EQ(p.height(), std::ceil(p.naturalHeight()));
    EXPECT_FALSE(p.enableDictationButton()->isVisible());
    EXPECT_FALSE(p.updateBanner()->isVisible());
    EXPECT_FALSE(p.recentIssueBanner()->isVisible());
    EXPECT_FALSE(p.milestoneLine()->isVisible());
    EXPECT_FALSE(p.copyLastButton()->isEnabled()) << "no transcripts yet";

    // The panel's background, a card's surface and its hairline.
    EXPECT_TRUE(sameColor(pixelAt(image, {3, 3}), token(Palette::background)));
    const QRectF recap = where(p.weekRecap());
    EXPECT_NEAR(recap.left(), 12, 0.5);
    EXPECT_NEAR(recap.width(), 348, 0.5);
    EXPECT_TRUE(sameColor(pixelAt(image, {recap.center().x(), recap.bottom() - 4}), token(Palette::surface), 3));
    const QColor border = pixelAt(image, {recap.center().x(), recap.top() + 0.5});
    EXPECT_FALSE(sameColor(border, token(Palette::surface), 1)) << "a hairline inside the card's edge";
    // The footer rows are at least 44 points high and the cards stack 10 points apart.
    EXPECT_GE(p.openRow()->height(), 44);
    EXPECT_GE(p.quitRow()->height(), 44);
    EXPECT_EQ(p.languagePicker()->currentLabel(), QStringLiteral("System language"));
    EXPECT_EQ(p.microphonePicker()->currentLabel(), QStringLiteral("Automatic"));
    EXPECT_TRUE(p.cleanupSwitch()->isVisible());
    EXPECT_TRUE(p.cleanupSwitch()->isChecked());

    // Tab reaches the recap card, which then wears the focus ring.
    QApplication::setActiveWindow(&p);
    setKeyboardMovesFocus(p, true);
    p.weekRecap()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(p.weekRecap()->hasFocus());
    const QImage focused = render(QStringLiteral("recap-focused"));
    EXPECT_TRUE(sameColor(pixelAt(focused, {recap.center().x(), recap.top() + 1}), token(Palette::focus), 40));
}

TEST_P(MenuPanelViewTest, HoverFollowsThePointerPastAMenuAndAHiddenPanel)
{
    rig.controller->ensureHotkeyTapRunning();
    MenuPanel &p = make();
    p.move(200, 100);
    const std::vector<std::pair<QString, QWidget *>> rows{
        {QStringLiteral("Language"), p.languagePicker()->parentWidget()},
        {QStringLiteral("AI cleanup"), p.cleanupSwitch()->parentWidget()->parentWidget()},
        {QStringLiteral("Microphone"), p.microphonePicker()->parentWidget()},
        {QStringLiteral("Open"), p.openRow()},
        {QStringLiteral("Quit"), p.quitRow()},
    };
    // Rows whose leading edge wears anything but the card's surface.
    const auto hovered = [&] {
        const QImage image = render(QStringLiteral("hover"));
        QStringList names;
        for (const auto &[name, row] : rows) {
            const QRectF at = where(row);
            if (!sameColor(pixelAt(image, {at.left() + 4, at.center().y()}), token(Palette::surface), 3))
                names << name;
        }
        return names;
    };
    const auto pointAt = [](QWidget *widget) { QCursor::setPos(widget->mapToGlobal(QPoint(6, widget->height() / 2))); };

    pointAt(rows[0].second);
    p.followPointer();
    EXPECT_EQ(hovered(), QStringList{QStringLiteral("Language")});

    // The menu takes the pointer; it is chosen from over the microphone row and closes there.
    p.languagePicker()->openMenu();
    ASSERT_NE(p.languagePicker()->menu(), nullptr);
    pointAt(rows[2].second);
    p.languagePicker()->menu()->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return hovered() == QStringList{QStringLiteral("Microphone")}; }, 10000))
        << hovered().join(QLatin1Char(',')).toStdString();

    // Hidden under the pointer and opened again elsewhere: nothing is left hovered.
    p.hide();
    QCursor::setPos(QPoint(10, 10));
    p.show();
    EXPECT_EQ(hovered(), QStringList());
}

TEST_P(MenuPanelViewTest, AHighlightedFirstOrLastRowKeepsTheCardsCornersAndBorder)
{
    rig.controller->ensureHotkeyTapRunning();
    MenuPanel &p = make();
    p.move(200, 100);
    QCursor::setPos(QPoint(10, 10));
    p.followPointer();
    const QImage rest = render(QStringLiteral("rows-at-rest"));

    // The first row of the language card under the pointer, the last row of the footer focused.
    QWidget *language = p.languagePicker()->parentWidget();
    QCursor::setPos(language->mapToGlobal(QPoint(6, language->height() / 2)));
    p.followPointer();
    QApplication::setActiveWindow(&p);
    setKeyboardMovesFocus(p, true);
    p.quitRow()->setFocus(Qt::TabFocusReason);
    const QImage lit = render(QStringLiteral("rows-highlighted"));

    const QRectF first = where(language->parentWidget());
    const QRectF last = where(p.quitRow()->parentWidget());
    const QColor fill = zq::test::over(token(Palette::controlHover), token(Palette::surface));
    const std::pair<const char *, QPointF> unchanged[] = {
        {"language card, top-left corner", {first.left() + 1.5, first.top() + 1.5}},
        {"language card, top-right corner", {first.right() - 1.5, first.top() + 1.5}},
        {"language card, left border", {first.left() + 0.5, first.top() + 22}},
        {"language card, top border", {first.center().x(), first.top() + 0.5}},
        {"footer card, bottom-left corner", {last.left() + 1.5, last.bottom() - 1.5}},
        {"footer card, bottom border", {last.center().x(), last.bottom() - 0.5}},
    };
    for (const auto &[what, at] : unchanged)
        EXPECT_TRUE(sameColor(pixelAt(lit, at), pixelAt(rest, at), 3)) << what;
    EXPECT_TRUE(sameColor(pixelAt(lit, {first.left() + 4, first.top() + 22}), fill, 3)) << "the row is lit";
    EXPECT_TRUE(sameColor(pixelAt(lit, {last.left() + 4, last.bottom() - 22}), fill, 3)) << "the row is lit";
    // The titles stay legible on the fill: "Language" and "Quit ZEPA QUARN", right of their tiles.
    EXPECT_GE(strongestContrast(lit, QRectF(first.left() + 48, first.top() + 14, 60, 16), fill), 4.5);
    EXPECT_GE(strongestContrast(lit, QRectF(last.left() + 48, last.bottom() - 30, 60, 16), fill), 4.5);
}

TEST_P(MenuPanelViewTest, EveryBannerTheMilestoneAndATwoLineRecap)
{
    rig.controller->ensureHotkeyTapRunning();
    framework->delegate().didFindValidUpdate(
        zq::test::FakeUpdateFramework::item(QStringLiteral("1.3.0"), QStringLiteral("5")));
    DictationIncident incident;
    incident.id = QUuid::createUuid();
    incident.date = rig.loop.clocks().wallNow();
    incident.code = QStringLiteral("ZQ-MIC-NO-AUDIO");
    incident.title = QStringLiteral("The microphone sent only silence");
    incident.recordingFilename = QStringLiteral("A.wav");
    rig.incidents->insert(incident);
    for (int i = 0; i < 100; ++i) {
        rig.stats->setArmedTake(0.5);
        rig.stats->commitTake(i == 0 ? 10000 : 1, rig.loop.clocks().wallNow());
    }
    rig.history->add(QStringLiteral("the latest words"));
    // A language kept without a model here: the field names it and the note under it says why.
    rig.settings.setValue(keys::language, QStringLiteral("hi"));
    MenuPanel &p = make();
    const QImage image = render(QStringLiteral("banners"));
    EXPECT_EQ(p.languagePicker()->currentLabel(), QStringLiteral("Hindi"));
    ASSERT_TRUE(p.languageNote()->isVisible());
    EXPECT_EQ(p.languageNote()->title(), QStringLiteral("Hindi isn't supported on-device"));
    EXPECT_GT(where(p.languageNote()).top(), where(p.languagePicker()).bottom());
    EXPECT_LT(where(p.languageNote()).bottom(), where(p.cleanupSwitch()).top());

    ASSERT_TRUE(p.updateBanner()->isVisible());
    ASSERT_TRUE(p.recentIssueBanner()->isVisible());
    ASSERT_TRUE(p.milestoneLine()->isVisible());
    EXPECT_EQ(p.milestoneLine()->milestone(), Milestone::tenThousandWordWeek);
    EXPECT_TRUE(milestones->shown().contains(Milestone::tenThousandWordWeek)) << "shown once on screen";
    EXPECT_EQ(p.weekRecap()->content().lines.size(), 2);
    EXPECT_TRUE(p.copyLastButton()->isEnabled());

    // Update banner first, in the warning wash; the issue banner below it on the surface.
    const QRectF update = where(p.updateBanner());
    const QRectF issue = where(p.recentIssueBanner());
    EXPECT_LT(update.bottom(), issue.top());
    EXPECT_TRUE(sameColor(pixelAt(image, {update.left() + 40, update.bottom() - 3}),
                          zq::test::over(token(Palette::warningWash), token(Palette::background)), 4));
    // The "Update" capsule on the trailing side in the warning colour.
    bool capsule = false;
    for (qreal x = update.right() - 60; x < update.right() - 11; x += 1)
        capsule = capsule || sameColor(pixelAt(image, {x, update.center().y() - 7}), token(Palette::warning), 6);
    EXPECT_TRUE(capsule);
    // The danger triangle of the issue banner.
    const QRectF triangle(issue.left() + 11, issue.center().y() - 13, 26, 26);
    EXPECT_TRUE(zq::test::colorBounds(image.copy(triangle.toRect()), token(Palette::danger), 40).isValid());

    // The milestone line names the week's words and the dismiss control takes it away.
    p.milestoneLine()->dismissButton()->click();
    EXPECT_FALSE(p.milestoneLine()->isVisible());
    EXPECT_TRUE(milestones->dismissed());
}

TEST_P(MenuPanelViewTest, OpenAIShowsIncludedAndTapOffShowsEnableDictation)
{
    rig.settings.setValue(keys::backend, QStringLiteral("openai"));
    MenuPanel &p = make();
    render(QStringLiteral("openai-tap-off"));
    EXPECT_TRUE(p.cleanupIncludedText()->isVisible());
    EXPECT_FALSE(p.cleanupSwitch()->isVisible());
    ASSERT_TRUE(p.enableDictationButton()->isVisible());
    const QRectF enable = where(p.enableDictationButton());
    const QRectF copy = where(p.copyLastButton());
    EXPECT_LT(copy.right(), enable.left()) << "both controls at the trailing edge, copy first";
    EXPECT_GT(enable.right(), 372 - 12 - 4 - 2);

    p.enableDictationButton()->click();
    EXPECT_TRUE(rig.controller->tapRunning());
    EXPECT_FALSE(p.enableDictationButton()->isVisible());
}

TEST_P(MenuPanelViewTest, OnceTheTapRunsTheHeaderIsThatOfAPanelThatNeverShowedEnableDictation)
{
    const auto header = [this] {
        QWidget *header = panel->copyLastButton()->parentWidget();
        return QRect(header->mapTo(panel.get(), QPoint(0, 0)), header->size());
    };
    MenuPanel &shown = make();
    ASSERT_TRUE(shown.enableDictationButton()->isVisible());
    shown.enableDictationButton()->click();
    ASSERT_TRUE(rig.controller->tapRunning());
    // As in the running application: the layouts' posted requests are handled before a paint.
    QApplication::processEvents();
    const QImage after = render(QStringLiteral("tap-started"));
    const QRect afterHeader = header();
    const int afterHeight = panel->height();

    // The tap already runs when this one is made.
    panel.reset();
    model.reset();
    MenuPanel &never = make();
    ASSERT_FALSE(never.enableDictationButton()->isVisible());
    QApplication::processEvents();
    const QImage plain = render(QStringLiteral("tap-running"));
    EXPECT_EQ(afterHeader, header());
    EXPECT_EQ(afterHeight, panel->height());
    EXPECT_TRUE(after.copy(afterHeader) == plain.copy(header())) << "the header keeps a trace of the button";
    EXPECT_TRUE(after == plain);
}

TEST_P(MenuPanelViewTest, FnAloneWithoutAnFnKeyShowsTheLineUnderTheHeaderAsItsOnlyButton)
{
    rig.controller->ensureHotkeyTapRunning();
    keyboard = zq::test::FakePermissionProbe::keyboardWithFn(false);
    rig.settings.setValue(keys::triggerKey, QStringLiteral("fn"));
    MenuPanel &p = make();
    const QImage image = render(QStringLiteral("trigger-unseen"));

    ASSERT_TRUE(p.unseenTriggerBanner()->isVisible());
    EXPECT_FALSE(p.enableDictationButton()->isVisible()) << "one problem, one button: the line's Choose Key";
    const QRectF line = where(p.unseenTriggerBanner());
    EXPECT_GT(line.top(), where(p.copyLastButton()).bottom()) << "right under the header";
    EXPECT_LT(line.bottom(), where(p.weekRecap()).top());
    EXPECT_TRUE(sameColor(pixelAt(image, {line.left() + 40, line.bottom() - 3}),
                          zq::test::over(token(Palette::warningWash), token(Palette::background)), 4));
    // The keyboard symbol on the leading side and the "Choose Key" capsule on the trailing side.
    const QRectF symbol(line.left() + 11, line.center().y() - 13, 26, 26);
    EXPECT_TRUE(zq::test::colorBounds(image.copy(symbol.toRect()), token(Palette::warning), 40).isValid());
    bool capsule = false;
    for (qreal x = line.right() - 80; x < line.right() - 11; x += 1)
        capsule = capsule || sameColor(pixelAt(image, {x, line.center().y() - 7}), token(Palette::warning), 6);
    EXPECT_TRUE(capsule);

    p.unseenTriggerBanner()->click();
    p.enableDictationButton()->click();
    EXPECT_EQ(recorderOpened, 2);

    rig.settings.setValue(keys::secondaryTriggerKey, QStringLiteral("key:100:F8"));
    EXPECT_FALSE(p.unseenTriggerBanner()->isVisible());
    EXPECT_FALSE(p.enableDictationButton()->isVisible());
}

TEST_P(MenuPanelViewTest, ASmallScreenCapsTheHeightAndScrolls)
{
    rig.controller->ensureHotkeyTapRunning();
    framework->delegate().didFindValidUpdate(
        zq::test::FakeUpdateFramework::item(QStringLiteral("1.3.0"), QStringLiteral("5")));
    MenuPanel &p = make(300);
    const QImage image = render(QStringLiteral("small-screen"));
    EXPECT_GT(p.naturalHeight(), 320);
    EXPECT_TRUE(p.isScrolling());
    EXPECT_EQ(p.height(), 320) << "a 300-point screen still gets 320";
    EXPECT_EQ(image.height(), 320);
    EXPECT_EQ(p.scrollArea()->verticalScrollBar()->value(), 0) << "starts at the top";
    EXPECT_GT(p.scrollArea()->verticalScrollBar()->maximum(), 0);
}

TEST(MenuUpdateBannerTest, ALongVersionIsCutBeforeTheUpdateButton)
{
    // The "Update" capsule sits on the trailing side; whatever the version, it looks the same.
    const QSizeF size(348, MenuUpdateBanner::heightFor(348));
    const auto render = [&](const QString &version) {
        return zq::test::renderPaint(size, [&](QPainter &painter, const QRectF &rect) {
            MenuUpdateBanner::paint(painter, rect, version, ColorScheme::light);
        });
    };
    const QImage plain = render(QStringLiteral("1.3.0"));
    const QImage longer = render(QStringLiteral("1.3.0-beta.2+build.20260302.nightly.linux-x86_64"));
    zq::test::saveRender(longer, QStringLiteral("menu-update-banner-long-version"));
    const QRect trailing = QRectF(QPointF(size.width() / 2, 0), size).toAlignedRect();
    const QColor capsule = Palette::color(Palette::warning, ColorScheme::light);
    const QRect button =
        zq::test::colorBounds(plain.copy(trailing), capsule, 6).toAlignedRect().translated(trailing.topLeft());
    ASSERT_GT(button.width(), 30) << "the capsule is drawn";
    EXPECT_EQ(plain.copy(button), longer.copy(button)) << "the title runs into the Update button";
    // The long title is cut, not dropped: its text reaches close to the button.
    const QRect gap(button.left() - 40, 0, 40, static_cast<int>(size.height() / 2));
    EXPECT_GT(
        zq::test::colorBounds(longer.copy(gap), Palette::color(Palette::textPrimary, ColorScheme::light), 60).width(),
        10);
}

TEST(MenuActionRowTest, ASubtitleWrapsInsteadOfBeingCutAndTheRowGrows)
{
    using Accessory = zq::MenuActionRow::Accessory;
    const QString subtitle = QStringLiteral("History, settings, and support");
    const qreal wide = zq::MenuActionRow::heightFor(348, subtitle, Accessory::chevron, {});
    const qreal narrow = zq::MenuActionRow::heightFor(150, subtitle, Accessory::chevron, {});
    EXPECT_GE(wide, 44);
    EXPECT_LT(wide, 56) << "one line of subtitle at the panel's width";
    EXPECT_GT(narrow, wide + 20) << "three lines at 150 points";
    EXPECT_EQ(zq::MenuActionRow::heightFor(348, QString(), Accessory::shortcut, QStringLiteral("Ctrl+Q")), 44);

    const QImage image = zq::test::renderPaint(
        QSizeF(150, narrow),
        [&](QPainter &painter, const QRectF &rect) {
            zq::MenuActionRow::paint(painter, rect, QStringLiteral("macwindow"), QStringLiteral("Open"), subtitle,
                                     Accessory::chevron, {}, 0, ColorScheme::light);
        },
        1.0, Palette::color(Palette::surface, ColorScheme::light));
    zq::test::saveRender(image, QStringLiteral("menu-action-row-wrapped"));
    // The subtitle's ink, in the text column right of the tile, runs over several lines and stays
    // inside the row.
    const QRectF ink = zq::test::colorBounds(image.copy(QRect(48, 0, 150 - 48 - 11 - 11, int(narrow))),
                                             Palette::color(Palette::textTertiary, ColorScheme::light), 40);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GT(ink.height(), 32);
    EXPECT_LE(ink.bottom(), narrow - 9 + 1);
}

TEST(MenuPanelRevealTest, FadesAndSlidesDownUnlessMotionIsReduced)
{
    using zq::motion::Seconds;
    EXPECT_EQ(MenuPanel::revealLook(std::nullopt, false).opacity, 0);
    EXPECT_EQ(MenuPanel::revealLook(std::nullopt, false).offset, -8);
    EXPECT_EQ(MenuPanel::revealLook(std::nullopt, true).offset, 0);
    const MenuPanel::RevealLook mid = MenuPanel::revealLook(Seconds(0.2), false);
    EXPECT_GT(mid.opacity, 0.3);
    EXPECT_LT(mid.opacity, 1);
    EXPECT_NEAR(mid.offset, -8 * (1 - mid.opacity), 1e-9);
    EXPECT_EQ(MenuPanel::revealLook(Seconds(0.79), false).opacity, 1);
    EXPECT_EQ(MenuPanel::revealLook(Seconds(0.79), false).offset, 0);
    EXPECT_EQ(MenuPanel::revealLook(Seconds(0.2), true).offset, 0);
}

TEST(MilestoneLineTest, TextsNameTheInvitePage)
{
    EXPECT_EQ(MilestoneLine::text(Milestone::tenThousandWordWeek, QStringLiteral("example.test")),
              QStringLiteral("10,000 words this week. Invites: example.test/invite"));
    EXPECT_EQ(MilestoneLine::text(Milestone::hundredTakes, QStringLiteral("example.test")),
              QStringLiteral("100 takes. Invites: example.test/invite"));
}

INSTANTIATE_TEST_SUITE_P(Schemes, MenuPanelViewTest, ::testing::Values(ColorScheme::light, ColorScheme::dark),
                         [](const ::testing::TestParamInfo<ColorScheme> &info) {
                             return info.param == ColorScheme::dark ? std::string("dark") : std::string("light");
                         });
