#include "rewards/depth/DepthGaugeView.h"

#include "pipeline/SettingsDefaults.h"
#include "rewards/depth/DepthStore.h"
#include "rewards/depth/InviteLinkLine.h"
#include "rewards/motion/PillAnimationStyle.h"
#include "runtime/Settings.h"
#include "support/Contrast.h"
#include "support/FakeHttpClient.h"
#include "support/FakePasteboard.h"
#include "support/ViewRender.h"
#include "support/VirtualLoop.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QPainter>

#include <gtest/gtest.h>

using namespace zq;
using namespace zq::test;
using namespace std::chrono_literals;

namespace {

class DepthGaugeViewTest : public ::testing::Test {
protected:
    DepthGaugeViewTest() { registerDefaults(settings); }

    QImage render(QWidget &view, const QString &name, ColorScheme scheme)
    {
        return renderInColorScheme(view, name, scheme, 420);
    }

    DepthChip *chip(DepthGaugeView &view, Colorway colorway)
    {
        for (DepthChip *c : view.chips()) {
            if (c->colorway() == colorway)
                return c;
        }
        return nullptr;
    }

    rt::Settings settings{QString()};
    VirtualLoop loop;
    FakePasteboard pasteboard;
    std::shared_ptr<FakeHttpClient> transport = std::make_shared<FakeHttpClient>();
};

} // namespace

TEST_F(DepthGaugeViewTest, AFreshStoreOffersTheSurfaceAndACreateButton)
{
    DepthStore depth(settings, InviteService(transport));
    DepthGaugeView view(depth, loop, &pasteboard);
    for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light})
        render(view, scheme == ColorScheme::dark ? "depth-gauge-fresh-dark" : "depth-gauge-fresh-light", scheme);

    ASSERT_EQ(view.chips().size(), 6u);
    EXPECT_TRUE(chip(view, Colorway::consensusMint)->isSelected());
    EXPECT_EQ(chip(view, Colorway::consensusMint)->accessibilityValue(), "Selected");
    for (DepthChip *c : view.chips()) {
        if (c->colorway() == Colorway::consensusMint)
            continue;
        EXPECT_FALSE(c->isEnabled()) << rawValue(c->colorway()).toStdString();
        EXPECT_EQ(c->accessibilityValue(), "Locked");
        EXPECT_EQ(c->toolTip(), displayName(c->colorway()));
    }
    EXPECT_TRUE(view.disclosureLine()->isVisibleTo(&view));
    EXPECT_EQ(view.inviteButton()->text(), "Create invite link");
    EXPECT_FALSE(view.errorLine()->isVisibleTo(&view));
    // The motion gallery on the same page names no listening animation like a rung.
    QStringList names;
    for (const QLabel *label : view.findChildren<QLabel *>())
        names << label->text();
    EXPECT_TRUE(names.contains("Surface"));
    for (const zq::PillAnimationStyle style : zq::kAllPillAnimationStyles)
        EXPECT_FALSE(names.contains(zq::displayName(style))) << zq::displayName(style).toStdString();

    const QImage image = render(view, "depth-gauge-fresh-dark", ColorScheme::dark);
    const DepthChip *locked = chip(view, Colorway::signalPurple);
    const QPointF corner = QPointF(locked->mapTo(&view, QPoint(4, 13)));
    const QColor lockedOver = over(
        [] {
            QColor c = Palette::color(Palette::locked, ColorScheme::dark);
            c.setAlphaF(0.44);
            return c;
        }(),
        Palette::color(Palette::windowBackground, ColorScheme::dark));
    EXPECT_TRUE(sameColor(pixelAt(image, corner), lockedOver, 4)) << "a locked chip is grey at 0.44";
}

TEST_F(DepthGaugeViewTest, CreatingShowsASpinnerThenCopiesTheNewLink)
{
    DepthStore depth(settings, InviteService(transport));
    DepthGaugeView view(depth, loop, &pasteboard);
    FakeGate gate;
    transport->holdNextCallAt(&gate);
    transport->enqueue(FakeHttpClient::answer(200, R"({"code":"7K3M9Q"})"));

    view.inviteButton()->click();
    ASSERT_TRUE(loop.runUntil([&] { return depth.inviteRequestInFlight(); }));
    EXPECT_FALSE(view.inviteButton()->isEnabled()) << "one request at a time";
    EXPECT_TRUE(view.inviteButton()->text().isEmpty()) << "the spinner stands in for the label";

    gate.open();
    ASSERT_TRUE(loop.runUntil([&] { return view.copied(); }));
    const QString link = "https://" + InviteService::host() + "/i/7K3M9Q";
    EXPECT_EQ(view.linkLine()->link(), link);
    EXPECT_EQ(pasteboard.text(), link) << "a new link is copied at once";
    EXPECT_EQ(view.inviteButton()->text(), "Copied");
    EXPECT_EQ(view.countLine()->text(), "0 verified downloads");
    render(view, "depth-gauge-link-dark", ColorScheme::dark);

    loop.advance(1.2s);
    EXPECT_EQ(view.inviteButton()->text(), "Copy invite link");

    // Where the row is too narrow the link says it is cut; the copy button still copies it whole.
    // Wide enough, it shows whole. In either scheme it reads on the card.
    const struct {
        int width;
        bool whole;
        ColorScheme scheme;
        const char *name;
    } widths[] = {{320, false, ColorScheme::light, "depth-gauge-link-narrow-light"},
                  {320, false, ColorScheme::dark, "depth-gauge-link-narrow-dark"},
                  {640, true, ColorScheme::light, "depth-gauge-link-wide-light"}};
    for (const auto &w : widths) {
        SCOPED_TRACE(w.name);
        const QImage image = renderInColorScheme(view, w.name, w.scheme, w.width);
        const QString shown = view.linkLine()->text();
        if (w.whole) {
            EXPECT_EQ(shown, link);
        } else {
            EXPECT_TRUE(shown.startsWith("https://") && shown.endsWith(QChar(0x2026))) << shown.toStdString();
            EXPECT_LE(view.linkLine()->fontMetrics().horizontalAdvance(shown), view.linkLine()->width());
        }
        EXPECT_EQ(view.linkLine()->toolTip(), link);
        const QRectF line(view.linkLine()->mapTo(&view, QPoint(0, 0)), view.linkLine()->size());
        EXPECT_GE(strongestContrast(image, line, Palette::color(Palette::controlFill, w.scheme)), 4.5);
    }
    view.inviteButton()->click();
    EXPECT_EQ(pasteboard.text(), link);
}

TEST_F(DepthGaugeViewTest, EachCopyResetsItsOwnLabel)
{
    settings.setValue("inviteCode", QStringLiteral("7K3M9Q"));
    DepthStore depth(settings, InviteService(transport));
    DepthGaugeView view(depth, loop, &pasteboard);
    EXPECT_EQ(view.countLine()->text(), "Progress not checked yet");
    view.inviteButton()->click();
    loop.advance(0.5s);
    view.inviteButton()->click();
    loop.advance(0.7s);
    EXPECT_FALSE(view.copied()) << "1.2 s after the first copy, whatever came later";
    EXPECT_EQ(view.inviteButton()->text(), "Copy invite link");
}

TEST_F(DepthGaugeViewTest, AFailedCreateKeepsTheDisclosureAndShowsTheError)
{
    DepthStore depth(settings, InviteService(transport));
    DepthGaugeView view(depth, loop, &pasteboard);
    view.inviteButton()->click();
    ASSERT_TRUE(loop.runUntil([&] { return depth.inviteError().has_value(); }));
    loop.runUntilIdle();
    EXPECT_TRUE(view.errorLine()->isVisibleTo(&view));
    EXPECT_EQ(view.errorLine()->text(), *depth.inviteError());
    EXPECT_TRUE(view.disclosureLine()->isVisibleTo(&view));
    EXPECT_EQ(view.inviteButton()->text(), "Create invite link");
    EXPECT_TRUE(pasteboard.text().isNull());
    const QImage image = render(view, "depth-gauge-error-light", ColorScheme::light);
    EXPECT_FALSE(colorBounds(image, Palette::color(Palette::danger, ColorScheme::light), 40).isEmpty());
    render(view, "depth-gauge-error-dark", ColorScheme::dark);
}

TEST_F(DepthGaugeViewTest, ChipsFollowTheStoredChoiceAndTheUnlockedTiers)
{
    settings.setValue("depthUnlocked", QList<qint64>{1});
    settings.setValue("depthSelection", QStringLiteral("deepOrbit"));
    settings.setValue("inviteCode", QStringLiteral("7K3M9Q"));
    settings.setValue("inviteVerifiedDownloads", qint64(1));
    DepthStore depth(settings, InviteService(transport));
    DepthGaugeView view(depth, loop, &pasteboard);
    EXPECT_TRUE(chip(view, Colorway::deepOrbit)->isSelected()) << "ringed though locked";
    EXPECT_FALSE(chip(view, Colorway::deepOrbit)->isEnabled());
    EXPECT_FALSE(chip(view, Colorway::consensusMint)->isSelected());

    FakeGate gate;
    transport->holdNextCallAt(&gate);
    transport->enqueue(FakeHttpClient::answer(200, R"({"code":"7K3M9Q","count":3})"));
    view.refreshButton()->click();
    ASSERT_TRUE(loop.runUntil([&] { return depth.inviteRequestInFlight(); }));
    EXPECT_FALSE(view.refreshButton()->isEnabled());
    EXPECT_TRUE(view.refreshButton()->isVisibleTo(&view)) << "disabled, not hidden";
    EXPECT_EQ(view.countLine()->text(), "1 verified download") << "the count stays until the refresh ends";
    gate.open();
    ASSERT_TRUE(loop.runUntil([&] { return !depth.inviteRequestInFlight(); }));
    EXPECT_EQ(view.countLine()->text(), "3 verified downloads");
    EXPECT_TRUE(chip(view, Colorway::agentTeal)->isEnabled()) << "twilight unlocked";
    for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light})
        render(view, scheme == ColorScheme::dark ? "depth-gauge-twilight-dark" : "depth-gauge-twilight-light", scheme);

    chip(view, Colorway::agentTeal)->click();
    EXPECT_EQ(settings.stringValue("depthSelection"), "agentTeal");
    EXPECT_TRUE(chip(view, Colorway::agentTeal)->isSelected());
    EXPECT_FALSE(chip(view, Colorway::deepOrbit)->isSelected());
    chip(view, Colorway::monochrome)->click();
    EXPECT_EQ(depth.selection(), Colorway::agentTeal) << "a locked chip does nothing";
}

TEST(DepthChipTest, SwatchesShowTheirBaseTheirAccentAndTheSelectionRing)
{
    const struct {
        Colorway colorway;
        Palette::Token base;
        Palette::Token accent;
    } looks[] = {
        {Colorway::consensusMint, Palette::surfaceRaised, Palette::accent},
        {Colorway::signalPurple, Palette::surfaceRaised, Palette::signalPurpleAccent},
        {Colorway::agentTeal, Palette::agentTealBackground, Palette::darkColorwayAccent},
        {Colorway::deepOrbit, Palette::deepOrbitBackground, Palette::darkColorwayAccent},
        {Colorway::systemGray, Palette::surfaceRaised, Palette::systemGrayAccent},
        {Colorway::monochrome, Palette::monochromeBackground, Palette::darkColorwayAccent},
    };
    for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light}) {
        for (const auto &look : looks) {
            const QColor window = Palette::color(Palette::windowBackground, scheme);
            const auto chip = [&](bool selected, bool selectable) {
                return renderPaint(
                    QSizeF(26, 26),
                    [&](QPainter &p, const QRectF &r) {
                        paintDepthChip(p, r, look.colorway, selected, selectable, scheme);
                    },
                    1.0, window);
            };
            const QImage plain = chip(false, true);
            const std::string name = rawValue(look.colorway).toStdString();
            EXPECT_TRUE(sameColor(pixelAt(plain, {6, 13}), Palette::color(look.base, scheme))) << name;
            EXPECT_TRUE(sameColor(pixelAt(plain, {13, 13}), Palette::color(look.accent, scheme))) << name;
            const QImage ringed = chip(true, true);
            EXPECT_FALSE(sameColor(pixelAt(ringed, {0.5, 13}), pixelAt(plain, {0.5, 13}), 4)) << "ring: " << name;
            const QImage locked = chip(false, false);
            QColor grey = Palette::color(Palette::locked, scheme);
            grey.setAlphaF(0.44);
            EXPECT_TRUE(sameColor(pixelAt(locked, {13, 13}), over(grey, window), 3)) << "locked: " << name;
        }
    }
}
