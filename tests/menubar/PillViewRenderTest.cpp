#include "menubar/PillView.h"

#include "menubar/brand/Metrics.h"
#include "support/Contrast.h"
#include "support/ViewRender.h"

#include <QFontMetricsF>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using zq::ColorScheme;
using zq::Colorway;
using zq::LevelHistory;
using zq::Palette;
using zq::PillAnimationStyle;
using zq::PillLifecycle;
using zq::PillMetrics;
using zq::PillState;
using zq::PillView;
using zq::rt::seconds;

namespace {

constexpr double kCell = 100;

// A voice that rises and falls, sampled every 20 ms as the engine does.
LevelHistory voiceUntil(double now)
{
    LevelHistory history;
    for (double t = 101; t <= std::min(now, 103.0) + 1e-9; t += 0.02)
        history.append(seconds(t), 0.5 + 0.45 * std::sin(9 * t));
    return history;
}

// Shown listening at 100, live at 101, thinking at 103, done at 105, hidden at 106.
PillView scriptedFrame(double now, Colorway colorway, ColorScheme scheme, bool reduceMotion,
                       PillAnimationStyle style = PillAnimationStyle::logoBars)
{
    PillLifecycle pill;
    pill.apply(PillState::listening(), {}, seconds(100));
    if (now >= 101)
        pill.noteCapture(true, {}, seconds(101));
    if (now >= 103) {
        pill.noteCapture(false, voiceUntil(103), seconds(103));
        pill.apply(PillState::thinking(), voiceUntil(103), seconds(103));
    }
    if (now >= 105)
        pill.apply(PillState::done(), {}, seconds(105));
    if (now >= 106)
        pill.apply(PillState::hidden(), {}, seconds(106));
    PillView view;
    view.lifecycle = pill;
    view.animationStyle = style;
    view.colorway = colorway;
    view.scheme = scheme;
    view.reduceMotion = reduceMotion;
    view.engineCaptureLive = now >= 101 && now < 103;
    view.liveHistory = voiceUntil(now);
    return view;
}

QImage frame(const PillView &view, double now)
{
    return zq::test::renderPaint(
        QSizeF(kCell, kCell), [&](QPainter &painter, const QRectF &rect) { view.paint(painter, rect, seconds(now)); });
}

// The run of nearly opaque pixels through the centre, across or down: the capsule without its
// shadow, which never exceeds 0.65 of the pill's opacity.
int opaqueRun(const QImage &image, bool across)
{
    const int centre = static_cast<int>(kCell / 2);
    std::vector<int> alpha;
    for (int i = 0; i < static_cast<int>(kCell); ++i)
        alpha.push_back(
            zq::test::pixelAt(image, across ? QPointF(i + 0.5, centre + 0.5) : QPointF(centre + 0.5, i + 0.5)).alpha());
    const int strongest = *std::max_element(alpha.begin(), alpha.end());
    return static_cast<int>(
        std::count_if(alpha.begin(), alpha.end(), [strongest](int a) { return a >= 0.9 * strongest; }));
}

const std::vector<double> kInstants = {100,   100.1, 100.5, 101, 101.15, 101.45, 102,   103,
                                       103.2, 103.6, 104.5, 105, 105.45, 106,    106.1, 106.215};

QString pillSchemeName(ColorScheme scheme)
{
    return scheme == ColorScheme::dark ? QStringLiteral("dark") : QStringLiteral("light");
}

} // namespace

TEST(PillViewRenderTest, ATakeAsATimelineStripPerColorway)
{
    for (const Colorway colorway : zq::kAllColorways) {
        for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
            for (const bool reduceMotion : {false, true}) {
                const QString name = QStringLiteral("pill-take-%1-%2%3")
                                         .arg(zq::rawValue(colorway), pillSchemeName(scheme),
                                              reduceMotion ? QStringLiteral("-reduce-motion") : QString());
                SCOPED_TRACE(name.toStdString());
                QImage strip(QSize(static_cast<int>(kCell * kInstants.size()), static_cast<int>(kCell)),
                             QImage::Format_ARGB32_Premultiplied);
                strip.fill(scheme == ColorScheme::dark ? QColor(40, 40, 46) : QColor(236, 236, 240));
                QPainter stripPainter(&strip);
                for (std::size_t i = 0; i < kInstants.size(); ++i) {
                    const double now = kInstants[i];
                    const PillView view = scriptedFrame(now, colorway, scheme, reduceMotion);
                    const QImage image = frame(view, now);
                    stripPainter.drawImage(QPointF(kCell * static_cast<double>(i), 0), image);

                    if (now == 100) {
                        EXPECT_EQ(zq::test::inkedPixels(image, 0), 0) << "fully transparent at the show";
                    }
                    if (reduceMotion && now > 100 && now < 106) {
                        EXPECT_EQ(opaqueRun(image, false), 36) << "no scale with reduce motion at " << now;
                    }
                    if (now == 100.5) {
                        EXPECT_EQ(opaqueRun(image, true), 36) << "connecting";
                    }
                    if (now == 101.45 || now == 102) {
                        EXPECT_NEAR(opaqueRun(image, true), 67, 1) << "live at " << now;
                    }
                    if (now == 102) {
                        // Below the meter and the mark the capsule shows the skin's fill.
                        const QColor fill = Palette::color(PillView::fill(colorway), scheme);
                        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {50.5, 65.5}), fill, 3))
                            << zq::test::pixelAt(image, {50.5, 65.5}).name().toStdString() << " vs "
                            << fill.name().toStdString();
                    }
                }
                stripPainter.end();
                EXPECT_FALSE(zq::test::saveRender(strip, name).isEmpty());
            }
        }
    }
}

TEST(PillViewRenderTest, WhileLiveTheMarkMovesLeftAndTheBarsSitRightOfCentre)
{
    // Live at full fade: the mark is shifted left of the capsule's centre, the bars right of it.
    const PillView view = scriptedFrame(102, Colorway::consensusMint, ColorScheme::dark, false);
    const QImage image = frame(view, 102);
    zq::test::saveRender(image, QStringLiteral("pill-live-mark-and-meter"));
    const QColor fill = Palette::color(PillView::fill(view.colorway), view.scheme);
    // The middle of what is drawn on the fill between two columns, clear of the border.
    const auto inkCentre = [&](int from, int to) {
        int first = to, last = from - 1;
        for (int x = from; x < to; ++x)
            for (int y = 42; y < 58; ++y)
                if (!zq::test::sameColor(zq::test::pixelAt(image, QPointF(x + 0.5, y + 0.5)), fill, 30)) {
                    first = std::min(first, x);
                    last = std::max(last, x);
                }
        return (first + last + 1) / 2.0;
    };
    EXPECT_NEAR(inkCentre(20, 50), kCell / 2 - PillMetrics::kMarkShift, 1.5) << "the mark";
    EXPECT_NEAR(inkCentre(50, 80), kCell / 2 + PillMetrics::kBarMeterShift, 1.5) << "the bars";
}

TEST(PillViewRenderTest, AMutedPillCarriesItsWordsInTheDangerRing)
{
    // In the window's own size: the capsule grows from the mark to the words.
    const QSizeF panel(460, 100);
    const QString notice = QStringLiteral("Microphone access needed. Grant microphone access, then try again.");
    for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        SCOPED_TRACE(pillSchemeName(scheme).toStdString());
        PillView view;
        view.lifecycle.apply(PillState::muted(notice), {}, seconds(10));
        view.scheme = scheme;
        const auto render = [&](double now) {
            return zq::test::renderPaint(
                panel, [&](QPainter &painter, const QRectF &rect) { view.paint(painter, rect, seconds(now)); });
        };
        const auto widthAt = [&](double now) {
            return view.capsuleRect(QRectF(QPointF(0, 0), panel), seconds(now)).width();
        };
        EXPECT_DOUBLE_EQ(widthAt(10), PillMetrics::kNarrowWidth) << "it begins as the mark alone";
        EXPECT_GT(widthAt(10.2), PillMetrics::kNarrowWidth);
        EXPECT_LT(widthAt(10.2), widthAt(11));

        // Frame by frame while the capsule widens: every pixel of the words lies past the mark
        // and clear of the capsule's growing edge.
        QImage strip(QSize(static_cast<int>(panel.width()), 20 * 40), QImage::Format_ARGB32_Premultiplied);
        strip.fill(scheme == ColorScheme::dark ? QColor(40, 40, 46) : QColor(236, 236, 240));
        QPainter stripPainter(&strip);
        const QRectF panelRect(QPointF(0, 0), panel);
        const auto drawn = [&](const PillView::Look &look) {
            return zq::test::renderPaint(
                panel, [&](QPainter &painter, const QRectF &rect) { PillView::paint(painter, rect, look); });
        };
        // The columns where two pictures differ.
        const auto columns = [](const QImage &a, const QImage &b) {
            std::vector<int> found;
            for (int x = 0; x < a.width(); ++x)
                for (int y = 0; y < a.height(); ++y)
                    if (a.pixel(x, y) != b.pixel(x, y)) {
                        found.push_back(x);
                        break;
                    }
            return found;
        };
        for (int k = 0; k < 20; ++k) {
            const double now = 10 + k / 30.0;
            const PillView::Look look = view.look(panelRect, seconds(now));
            const QImage shot = drawn(look);
            stripPainter.drawImage(QPointF(0, 40 * k), shot, QRectF(0, 30, panel.width(), 40));
            PillView::Look withoutWords = look;
            withoutWords.notice.clear();
            PillView::Look withoutMark = look;
            withoutMark.mark.reset();
            const std::vector<int> words = columns(shot, drawn(withoutWords));
            const std::vector<int> mark = columns(shot, drawn(withoutMark));
            if (words.empty())
                continue;
            const QRectF shown = view.visibleCapsule(panelRect, seconds(now));
            ASSERT_FALSE(mark.empty());
            EXPECT_GT(words.front(), mark.back()) << "words under the mark at " << now;
            EXPECT_LT(words.back(), shown.right() - 4) << "words cut by the edge at " << now;
        }
        stripPainter.end();
        zq::test::saveRender(strip, QStringLiteral("pill-muted-widening-%1").arg(pillSchemeName(scheme)));

        const QImage image = render(11);
        zq::test::saveRender(image, QStringLiteral("pill-muted-%1").arg(pillSchemeName(scheme)));
        const QRectF capsule = view.capsuleRect(QRectF(QPointF(0, 0), panel), seconds(11));
        EXPECT_GT(capsule.width(), 150);
        EXPECT_LE(capsule.width(), PillView::kNoticeMaxWidth);
        const QColor danger = Palette::color(Palette::danger, scheme);
        const QColor fill = Palette::color(PillView::fill(view.colorway), scheme);
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {capsule.center().x(), 32.5}), danger, 12))
            << "the top ring";
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {capsule.left() + 0.5, 50.5}), danger, 12))
            << "the left end";
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {capsule.right() - 0.5, 50.5}), danger, 12))
            << "the right end";
        EXPECT_TRUE(capsule.adjusted(-1, -1, 1, 1).contains(zq::test::colorBounds(image, danger, 12)))
            << "nothing red outside the capsule";
        // The mark at the round left end, the words past it, legible on the fill.
        const QRectF markArea(capsule.left() + 8, 41, 20, 18);
        EXPECT_GT(zq::test::strongestContrast(image, markArea, fill), 3) << "the mark";
        const QRectF words(capsule.left() + PillMetrics::kNarrowWidth, 42, capsule.width() - 50, 16);
        EXPECT_GE(zq::test::strongestContrast(image, words, fill), 4.5) << "the words";

        // A take that starts over the notice narrows the capsule back as the words fade.
        view.lifecycle.apply(PillState::listening(), {}, seconds(12));
        EXPECT_NEAR(widthAt(12), capsule.width(), 0.01);
        EXPECT_DOUBLE_EQ(widthAt(12.45), PillMetrics::kNarrowWidth);

        view.reduceMotion = true;
        view.lifecycle = PillLifecycle();
        view.lifecycle.apply(PillState::muted(notice), {}, seconds(10));
        EXPECT_DOUBLE_EQ(widthAt(10), capsule.width()) << "no growth with reduce motion";
    }
}

TEST(PillViewFunctionsTest, TheNoticeLineFallsBackToItsTitleThenCuts)
{
    const double room = 320;
    const struct {
        QString notice;
        QString shown; // empty: cut with an ellipsis
    } cases[] = {
        {QStringLiteral("No audio. Check it."), QStringLiteral("No audio. Check it.")},
        {QStringLiteral("Microphone access needed. Grant microphone access, then try again."),
         QStringLiteral("Microphone access needed")},
        {QStringLiteral("Transcript copied. The app blocked the paste. Press Ctrl+V to insert it."),
         QStringLiteral("Transcript copied")},
        {QString(80, QLatin1Char('w')), QString()},
    };
    for (const auto &c : cases) {
        const QString line = PillView::noticeLine(c.notice, room);
        if (c.shown.isEmpty()) {
            EXPECT_TRUE(line.endsWith(QChar(0x2026))) << line.toStdString();
        } else {
            EXPECT_EQ(line, c.shown);
        }
        EXPECT_LE(QFontMetricsF(PillView::noticeFont()).horizontalAdvance(line), room);
    }
}

TEST(PillViewRenderTest, TheBorderTellsALockedTakeFromAListeningOne)
{
    for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        for (const Colorway colorway : {Colorway::consensusMint, Colorway::agentTeal}) {
            SCOPED_TRACE(pillSchemeName(scheme).toStdString() + " " + zq::rawValue(colorway).toStdString());
            QColor lockedInner;
            const auto topBorder = [&](const PillState &state) {
                PillView view;
                view.lifecycle.apply(state, {}, seconds(10));
                view.scheme = scheme;
                view.colorway = colorway;
                const QImage image = frame(view, 11);
                zq::test::saveRender(image, QStringLiteral("pill-%1-%2-%3")
                                                .arg(state.is(PillState::Kind::locked) ? "locked" : "listening",
                                                     zq::rawValue(colorway), pillSchemeName(scheme)));
                lockedInner = zq::test::pixelAt(image, {50.5, 33.5});
                return zq::test::pixelAt(image, {50.5, 32.5});
            };
            const QColor fill = Palette::color(PillView::fill(colorway), scheme);
            const QColor listening = topBorder(PillState::listening());
            const QColor locked = topBorder(PillState::locked());
            EXPECT_TRUE(zq::test::sameColor(
                locked, Palette::color(PillView::secondaryTint(zq::PillTone::locked, colorway), scheme), 12))
                << locked.name().toStdString();
            EXPECT_GT(zq::test::contrastRatio(locked, fill), 3) << "the locked ring stands out of the capsule";
            EXPECT_TRUE(zq::test::sameColor(lockedInner, locked, 12)) << "a ring, not a hairline";
            EXPECT_LT(zq::test::contrastRatio(listening, fill), 1.5) << "the listening border is a hairline";
        }
    }
}

TEST(PillViewRenderTest, OtherStylesKeepTheNarrowCapsuleAndSwapTheMarkForTheMeter)
{
    for (const PillAnimationStyle style :
         {PillAnimationStyle::scaledPieces, PillAnimationStyle::bandSwell, PillAnimationStyle::surface}) {
        QImage strip(QSize(static_cast<int>(kCell * kInstants.size()), static_cast<int>(kCell)),
                     QImage::Format_ARGB32_Premultiplied);
        strip.fill(QColor(40, 40, 46));
        QPainter stripPainter(&strip);
        for (std::size_t i = 0; i < kInstants.size(); ++i) {
            const double now = kInstants[i];
            const QImage image =
                frame(scriptedFrame(now, Colorway::consensusMint, ColorScheme::dark, false, style), now);
            stripPainter.drawImage(QPointF(kCell * static_cast<double>(i), 0), image);
            if (now == 102) {
                EXPECT_EQ(opaqueRun(image, true), 36) << zq::rawValue(style).toStdString();
            }
        }
        stripPainter.end();
        zq::test::saveRender(strip, QStringLiteral("pill-take-%1").arg(zq::rawValue(style)));
    }
}
