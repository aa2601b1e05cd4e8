#include "rewards/stats/StatsPage.h"
#include "pipeline/SettingsDefaults.h"
#include "records/StatsStore.h"
#include "rewards/motion/MotionStore.h"
#include "rewards/stats/LedgerCard.h"
#include "runtime/Settings.h"
#include "support/FakePasteboard.h"
#include "support/ViewRender.h"
#include "support/VirtualLoop.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq;
using namespace zq::test;

namespace {

const QTimeZone berlinZone(QByteArrayLiteral("Europe/Berlin"));

QDateTime inBerlin(int y, int m, int d, int h = 12)
{
    return QDateTime(QDate(y, m, d), QTime(h, 0), berlinZone);
}

class StatsPageTest : public ::testing::Test {
protected:
    StatsPageTest()
    {
        registerDefaults(settings);
        for (const auto &[day, words] :
             std::vector<std::pair<int, qint64>>{{9, 420}, {10, 180}, {12, 960}, {16, 300}}) {
            store.setArmedTake(words * 0.4);
            store.commitTake(words, inBerlin(2026, 3, day));
        }
    }

    LedgerExporter exporter()
    {
        return {std::make_shared<LedgerImageRenderer>(), std::make_shared<LedgerPasteboard>(pasteboard),
                QLocale(QLocale::English, QLocale::UnitedStates)};
    }

    QImage render(StatsPage &page, const QString &name)
    {
        page.resize(900, 720);
        page.show();
        QCoreApplication::processEvents();
        const QImage image = renderWidget(page);
        saveRender(image, name);
        return image;
    }

    QTemporaryDir dir;
    StatsStore store{dir.path(), berlinZone};
    rt::Settings settings{QString()};
    VirtualLoop loop;
    FakePasteboard pasteboard;
};

} // namespace

TEST_F(StatsPageTest, AnEmptyWeekShowsTheEmptyStateAndPagingFindsTheFullOne)
{
    StatsPageModel model(store, settings, loop, exporter(), inBerlin(2026, 3, 25)); // week 13, empty
    StatsPage page(model);
    wearColorScheme(page, ColorScheme::dark);
    const QImage empty = render(page, "stats-page-empty-dark");
    EXPECT_TRUE(page.showsEmptyState());
    EXPECT_FALSE(page.nextButton()->isEnabled()) << "the current week is shown";
    EXPECT_EQ(page.weekLabel()->text(), "WEEK 13");
    for (QAbstractButton *button : {page.previousButton(), page.nextButton()}) {
        EXPECT_EQ(button->size(), QSize(28, 28));
        EXPECT_EQ(page.childAt(button->mapTo(&page, button->rect().center())), button)
            << "the pointer reaches the button where its circle is drawn";
    }
    EXPECT_TRUE(sameColor(pixelAt(empty, {450, 700}), Palette::color(Palette::windowBackground, ColorScheme::dark)));
    EXPECT_FALSE(colorBounds(empty, Palette::color(Palette::accentWash, ColorScheme::dark).rgb(), 12).isEmpty())
        << "the empty state's icon";
    const QLabel *body = nullptr;
    for (const QLabel *label : page.findChildren<QLabel *>())
        if (label->text().startsWith(QStringLiteral("Stats begin")))
            body = label;
    ASSERT_NE(body, nullptr);
    EXPECT_TRUE(body->text().startsWith(QStringLiteral("Stats begin with ZEPA QUARN " ZQ_VERSION ". ")))
        << "the version this is: " << body->text().toStdString();
    EXPECT_LE(body->width(), 420);
    EXPECT_GE(body->height(), 2 * body->fontMetrics().lineSpacing()) << "the line wraps instead of being cut";

    page.previousButton()->click();
    EXPECT_EQ(page.weekLabel()->text(), "WEEK 12");
    EXPECT_FALSE(page.showsEmptyState());
    EXPECT_TRUE(page.nextButton()->isEnabled());
    wearColorScheme(page, ColorScheme::light);
    const QImage full = render(page, "stats-page-week-light");
    EXPECT_TRUE(sameColor(pixelAt(full, {5, 700}), Palette::color(Palette::windowBackground, ColorScheme::light)));

    page.nextButton()->click();
    EXPECT_TRUE(page.showsEmptyState());
}

TEST_F(StatsPageTest, ComingBackShowsTheCurrentWeekAgain)
{
    StatsPageModel model(store, settings, loop, exporter(), inBerlin(2026, 3, 25));
    QDateTime clock = inBerlin(2026, 3, 25);
    StatsPage page(model, nullptr, [&clock] { return clock; });
    render(page, "stats-page-return");
    page.previousButton()->click();
    page.previousButton()->click();
    EXPECT_EQ(page.weekLabel()->text(), "WEEK 11");
    page.hide();
    clock = inBerlin(2026, 4, 1);
    page.show();
    EXPECT_EQ(page.weekLabel()->text(), "WEEK 14") << "the week that holds the moment it came back";
    EXPECT_FALSE(page.nextButton()->isEnabled());
}

TEST_F(StatsPageTest, AFullWeekPlacesTheCardBesideTheDialAndCopiesIt)
{
    StatsPageModel model(store, settings, loop, exporter(), inBerlin(2026, 3, 12)); // week 11
    StatsPage page(model);
    wearColorScheme(page, ColorScheme::dark);
    const QImage image = render(page, "stats-page-week-dark");
    ASSERT_FALSE(page.showsEmptyState());

    const QRect cards(page.ledgerAndOrbit()->mapTo(&page, QPoint(0, 0)), page.ledgerAndOrbit()->size());
    EXPECT_EQ(cards.width(), 760) << "900 points less 50 of padding, at most 760";
    const double ledgerWidth = (760 - 13) * 0.6;
    const QColor surface = Palette::color(Palette::surface, ColorScheme::dark);
    EXPECT_TRUE(sameColor(pixelAt(image, QPointF(cards.left() + 8, cards.top() + 150)), surface)) << "the card";
    EXPECT_TRUE(sameColor(pixelAt(image, QPointF(cards.left() + ledgerWidth + 6, cards.top() + 150)),
                          Palette::color(Palette::windowBackground, ColorScheme::dark)))
        << "13 points between the card and the dial";
    EXPECT_TRUE(sameColor(pixelAt(image, QPointF(cards.right() - 8, cards.top() + 150)), surface)) << "the dial";

    page.resize(640, 720);
    QCoreApplication::processEvents();
    saveRender(renderWidget(page), "stats-page-week-narrow-dark");
    EXPECT_GT(page.ledgerAndOrbit()->height(), 500) << "stacked below 680 points";

    EXPECT_EQ(page.copyButton()->text(), "Copy as image");
    page.copyButton()->click();
    EXPECT_EQ(page.copyButton()->text(), QString::fromUtf8("Copied PNG ✓"));
    ASSERT_EQ(pasteboard.items().size(), 1u);
    EXPECT_EQ(pasteboard.items()[0][0].first, "image/png");
}

TEST_F(StatsPageTest, TheSliderWritesTheBaselineAndTheValueFollowsTheSetting)
{
    StatsPageModel model(store, settings, loop, exporter(), inBerlin(2026, 3, 12));
    StatsPage page(model);
    EXPECT_EQ(page.typingSlider()->value(), 40);
    page.typingSlider()->setValue(25);
    EXPECT_EQ(settings.integerValue("typingWPM"), 25);
    settings.setValue("typingWPM", qint64(66));
    EXPECT_EQ(page.typingSlider()->value(), 66);
    EXPECT_EQ(page.findChildren<QLabel *>().size() > 0, true);
    bool valueShown = false;
    for (const QLabel *label : page.findChildren<QLabel *>())
        valueShown = valueShown || label->text() == "66 WPM";
    EXPECT_TRUE(valueShown);
}

TEST_F(StatsPageTest, AnUnlockedAnimationIsAnnouncedAboveTheWeek)
{
    store.setArmedTake(600);
    store.commitTake(40000, inBerlin(2026, 3, 12)); // about 16 h reclaimed: both styles unlocked
    MotionStore motion(settings);
    StatsPageModel model(store, settings, loop, exporter(), inBerlin(2026, 3, 12));
    model.setUnlockAnnouncements(&motion);
    StatsPage page(model);
    wearColorScheme(page, ColorScheme::dark);
    EXPECT_FALSE(page.unlockLine()->isVisibleTo(&page));
    render(page, "stats-page-unlock-dark");
    EXPECT_TRUE(page.unlockLine()->isVisibleTo(&page));
    EXPECT_EQ(page.unlockLine()->text(), QString::fromUtf8("Band swell unlocked. General › Appearance › Motion"));
    EXPECT_EQ(motion.announced(),
              (std::set<PillAnimationStyle>{PillAnimationStyle::scaledPieces, PillAnimationStyle::bandSwell}));
    page.hide();
    page.show();
    EXPECT_FALSE(page.unlockLine()->isVisibleTo(&page)) << "announced once";
}

TEST_F(StatsPageTest, TheCardIsAsTallAsTheRowsItShows)
{
    // Week 13 was spoken slower than typing would have taken: no time reclaimed, two rows.
    store.setArmedTake(200);
    store.commitTake(100, inBerlin(2026, 3, 25));
    StatsPageModel model(store, settings, loop, exporter(), inBerlin(2026, 3, 25));
    StatsPage page(model);
    wearColorScheme(page, ColorScheme::dark);
    ASSERT_EQ(model.ledger(page.locale()).rows.size(), 2u);
    // Stacked under the dial's width the card's height is its own.
    const int narrow = 600;
    const int twoRows = page.ledgerAndOrbit()->heightForWidth(narrow);
    page.resize(narrow + 50, 1000);
    page.show();
    QCoreApplication::processEvents();
    const QImage image = renderWidget(page);
    saveRender(image, "stats-page-week-two-rows-dark");
    // The card ends 25 points of padding below its footer: just under it, the page shows.
    const QRect cards(page.ledgerAndOrbit()->mapTo(&page, QPoint(0, 0)), page.ledgerAndOrbit()->size());
    const double cardBottom = cards.top() + LedgerCard::naturalHeight(2);
    EXPECT_TRUE(sameColor(pixelAt(image, QPointF(cards.left() + 40, cardBottom + 3)),
                          Palette::color(Palette::windowBackground, ColorScheme::dark)));
    EXPECT_TRUE(sameColor(pixelAt(image, QPointF(cards.left() + 40, cardBottom - 3)),
                          Palette::color(Palette::surface, ColorScheme::dark)));

    // Week 11 reclaimed time: a third row, and the card grows by its 30 points.
    page.previousButton()->click();
    page.previousButton()->click();
    ASSERT_EQ(model.ledger(page.locale()).rows.size(), 3u);
    EXPECT_EQ(page.ledgerAndOrbit()->heightForWidth(narrow) - twoRows, 30);
    QCoreApplication::processEvents();
    saveRender(renderWidget(page), "stats-page-week-three-rows-dark");
}
