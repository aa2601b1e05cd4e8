#include "rewards/stats/LedgerCard.h"
#include "support/ViewRender.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>

#include <gtest/gtest.h>

using namespace zq;
using namespace zq::test;

namespace {

StatsLedgerContent weekModel(std::array<qint64, 7> daily, double speaking = 600)
{
    WeekSummary summary;
    summary.week.weekOfYear = 11;
    summary.dailyWords = daily;
    for (qint64 words : daily)
        summary.words += std::max<qint64>(words, 0);
    summary.takes = 3;
    summary.speaking = speaking;
    return StatsLedgerContent(summary, 40, QLocale(QLocale::English, QLocale::UnitedStates), QStringLiteral("7K3M9Q"));
}

const QSizeF kCard(480, 380);

QImage renderCard(const LedgerCard &card, ColorScheme scheme)
{
    const QColor window = Palette::color(Palette::windowBackground, scheme);
    return renderPaint(
        kCard, [&](QPainter &p, const QRectF &r) { card.paint(p, r, scheme); }, 1.0, window);
}

// The vertical extent of the accent's pixels inside one bar's column of the chart.
double accentHeightIn(const QImage &image, const QColor &accent, double left, double right)
{
    const QRectF bounds = colorBounds(image.copy(int(left), 200, int(right - left), 110), accent, 6);
    return bounds.height();
}

} // namespace

TEST(LedgerCardTest, EveryColorwayPaintsItsBackgroundAndAccent)
{
    const StatsLedgerContent model = weekModel({120, 0, 340, 80, 0, 0, 15});
    for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light}) {
        for (const Colorway colorway : kAllColorways) {
            const LedgerCard card{model, colorway};
            const QImage image = renderCard(card, scheme);
            const QString name = QStringLiteral("ledger-card-%1-%2")
                                     .arg(rawValue(colorway), scheme == ColorScheme::dark ? "dark" : "light");
            saveRender(image, name);
            const ColorScheme drawn = colorwayBackground(colorway) ? ColorScheme::dark : scheme;
            const QColor background = Palette::color(LedgerCard::background(colorway), drawn);
            const QColor accent = Palette::color(LedgerCard::accent(colorway), drawn);
            EXPECT_TRUE(sameColor(pixelAt(image, {12, 190}), background)) << name.toStdString();
            EXPECT_FALSE(sameColor(pixelAt(image, {1, 1}), background) &&
                         background != Palette::color(Palette::windowBackground, scheme))
                << "the rounded corner shows the window behind: " << name.toStdString();
            EXPECT_GT(colorBounds(image, accent, 6).width(), 300) << "bars run across the card: " << name.toStdString();
        }
    }
}

// A dark base with the light scheme's dark text made the words and figures invisible on screen.
TEST(LedgerCardTest, DarkBasedColorwaysKeepTheirTextReadableInTheLightAppearance)
{
    const LedgerCard card{weekModel({120, 0, 340, 80, 0, 0, 15}), Colorway::monochrome};
    const QImage image = renderCard(card, ColorScheme::light);
    const QColor primary = Palette::color(Palette::textPrimary, ColorScheme::dark);
    EXPECT_FALSE(colorBounds(image.copy(0, 40, 240, 60), primary, 30).isEmpty()) << "the word count shows";
}

TEST(LedgerCardTest, BarsScaleToTheWeeksLargestDay)
{
    const QColor accent = Palette::color(Palette::accent, ColorScheme::dark);
    const LedgerCard card{weekModel({0, 50, 100, 0, 0, 0, 0}), Colorway::consensusMint};
    const QImage image = renderCard(card, ColorScheme::dark);
    saveRender(image, QStringLiteral("ledger-card-bars"));
    // Seven bars share 430 points with 8 between them.
    const double barWidth = (430.0 - 6 * 8) / 7;
    const auto column = [&](int day) { return 25 + day * (barWidth + 8); };
    EXPECT_NEAR(accentHeightIn(image, accent, column(1) + 4, column(1) + barWidth - 4), 22, 1.5);
    EXPECT_NEAR(accentHeightIn(image, accent, column(2) + 4, column(2) + barWidth - 4), 44, 1.5);
    EXPECT_LE(accentHeightIn(image, accent, column(0) + 4, column(0) + barWidth - 4), 1) << "no words: a hairline bar";
}

TEST(LedgerCardTest, TheReclaimedRowIsDrawnInTheAccent)
{
    const QColor purple = Palette::color(Palette::signalPurpleAccent, ColorScheme::dark);
    const LedgerCard reclaiming{weekModel({1200, 0, 0, 0, 0, 0, 0}, 600), Colorway::signalPurple};
    const LedgerCard even{weekModel({400, 0, 0, 0, 0, 0, 0}, 600), Colorway::signalPurple};
    ASSERT_EQ(reclaiming.model.rows.size(), 3u);
    ASSERT_EQ(even.model.rows.size(), 2u);
    // Above the chart only the week label and the reclaimed value can be purple.
    const auto purpleAboveChart = [&](const LedgerCard &card) {
        const QImage image = renderCard(card, ColorScheme::dark);
        saveRender(image, QStringLiteral("ledger-card-rows-%1").arg(card.model.rows.size()));
        return colorBounds(image.copy(300, 50, 180, 185), purple, 45);
    };
    const QRectF withRow = purpleAboveChart(reclaiming);
    EXPECT_FALSE(withRow.isEmpty());
    EXPECT_GT(withRow.left(), 100) << "the value sits at the right end";
    const QRectF withoutRow = purpleAboveChart(even);
    EXPECT_TRUE(withoutRow.isEmpty()) << withoutRow.x() << " " << withoutRow.y() << " " << withoutRow.width() << " "
                                      << withoutRow.height();
}

TEST(LedgerCardTest, TheExportIsAnOpaqueDarkImageOf960By760)
{
    const QPalette saved = QGuiApplication::palette();
    QPalette light = saved;
    light.setColor(QPalette::Window, Qt::white);
    QGuiApplication::setPalette(light);

    const std::optional<QByteArray> png =
        LedgerImageRenderer().pngData(weekModel({3, 9, 27, 81, 0, 0, 1}), kCard, 2.0, Colorway::deepOrbit);
    QGuiApplication::setPalette(saved);
    ASSERT_TRUE(png);
    QImage image;
    ASSERT_TRUE(image.loadFromData(*png, "PNG"));
    saveRender(image, QStringLiteral("ledger-export-deepOrbit"));
    EXPECT_EQ(image.size(), QSize(960, 760));
    EXPECT_FALSE(image.hasAlphaChannel());
    const QColor window = Palette::color(Palette::windowBackground, ColorScheme::dark);
    for (const QPoint corner : {QPoint(0, 0), QPoint(959, 0), QPoint(0, 759), QPoint(959, 759)})
        EXPECT_TRUE(sameColor(image.pixelColor(corner), window)) << corner.x() << "," << corner.y();
    EXPECT_TRUE(sameColor(image.pixelColor(40, 380), Palette::color(Palette::deepOrbitBackground, ColorScheme::dark)));

    EXPECT_FALSE(LedgerImageRenderer().pngData(weekModel({}), QSizeF(0, 380), 2.0, Colorway::consensusMint));
}
