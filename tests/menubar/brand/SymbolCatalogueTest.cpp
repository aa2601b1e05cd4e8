#include "menubar/brand/SymbolCatalogue.h"
#include "support/ViewRender.h"
#include "window/AppWindowSection.h"

#include <QDirIterator>
#include <QFile>
#include <QPainter>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using zq::SymbolCatalogue;

namespace {

const QColor kTint(0xD9, 0x3A, 0x33);

} // namespace

TEST(SymbolCatalogueTest, EveryMappedNameHasABundledIcon)
{
    const QStringList names = SymbolCatalogue::names();
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end())); // lookups bisect the table
    EXPECT_GE(names.size(), 57);
    for (const QString &name : names)
        EXPECT_TRUE(QFile::exists(SymbolCatalogue::resourcePath(name))) << name.toStdString();
    EXPECT_TRUE(SymbolCatalogue::resourcePath(u"no.such.symbol").isEmpty());
}

TEST(SymbolCatalogueTest, TheSymbolSheetDrawsEveryNameInItsTint)
{
    const QStringList names = SymbolCatalogue::names();
    constexpr int columns = 10;
    constexpr qreal cell = 32;
    const int rows = int((names.size() + columns - 1) / columns);
    const auto cellRect = [](int i) { return QRectF((i % columns) * cell + 6, (i / columns) * cell + 6, 20, 20); };
    for (qreal ratio : {1.0, 2.0}) {
        const QImage sheet = zq::test::renderPaint(
            QSizeF(columns * cell, rows * cell),
            [&](QPainter &painter, const QRectF &) {
                for (int i = 0; i < names.size(); ++i)
                    SymbolCatalogue::paint(painter, cellRect(i), names[i], kTint);
            },
            ratio);
        if (ratio == 2.0) {
            EXPECT_FALSE(zq::test::saveRender(sheet, QStringLiteral("symbols")).isEmpty());
        }
        for (int i = 0; i < names.size(); ++i) {
            SCOPED_TRACE(names[i].toStdString());
            const QImage one = sheet.copy(QRectF(cellRect(i).topLeft() * ratio, cellRect(i).size() * ratio).toRect());
            EXPECT_GT(zq::test::inkedPixels(one), 8);
            // Solid ink is the tint: the icon's own colour is replaced.
            int solid = 0;
            for (int y = 0; y < one.height(); ++y) {
                for (int x = 0; x < one.width(); ++x) {
                    QColor pixel = one.pixelColor(x, y);
                    if (pixel.alpha() < 128)
                        continue;
                    ++solid;
                    pixel.setAlpha(255);
                    EXPECT_TRUE(zq::test::sameColor(pixel, kTint, 3)) << pixel.name().toStdString();
                }
            }
            EXPECT_GT(solid, 4);
        }
        // Nothing spills outside its cell's frame.
        EXPECT_TRUE(QRectF(6, 6, columns * cell, rows * cell).contains(zq::test::inkBounds(sheet)));
    }
}

TEST(SymbolCatalogueTest, AnUnmappedNameDrawsNothing)
{
    const QImage image = zq::test::renderPaint(QSizeF(24, 24), [](QPainter &painter, const QRectF &rect) {
        SymbolCatalogue::paint(painter, rect, u"no.such.symbol", kTint);
        SymbolCatalogue::paint(painter, rect, u"no.such.symbol", kTint);
    });
    EXPECT_EQ(zq::test::inkedPixels(image, 0), 0);
    EXPECT_EQ(zq::test::inkedPixels(SymbolCatalogue::pixmap(u"", QSizeF(12, 12), kTint).toImage(), 0), 0);
}

TEST(SymbolCatalogueTest, ASymbolKeepsItsAspectInAWideFrame)
{
    const QImage image = zq::test::renderPaint(QSizeF(60, 20), [](QPainter &painter, const QRectF &rect) {
        SymbolCatalogue::paint(painter, rect, u"circle", kTint);
    });
    const QRectF ink = zq::test::inkBounds(image);
    EXPECT_NEAR(ink.center().x(), 30, 1.0);
    EXPECT_LE(ink.width(), 20.5);
}

// Symbol names in the views' sources: dotted names anywhere, single words on lines that speak of a
// symbol or an icon. Each must be in the catalogue, or the view would draw an empty frame.
TEST(SymbolCatalogueTest, EveryNameTheViewsUseIsMapped)
{
    using zq::AppWindowSection;
    for (AppWindowSection section : {AppWindowSection::stats, AppWindowSection::history, AppWindowSection::general,
                                     AppWindowSection::audio, AppWindowSection::transcription,
                                     AppWindowSection::dictionary, AppWindowSection::faq, AppWindowSection::support}) {
        EXPECT_TRUE(SymbolCatalogue::contains(zq::symbolName(section))) << zq::symbolName(section).toStdString();
    }

    const QRegularExpression literal(QStringLiteral(R"re("([a-z][a-z0-9]*(?:\.[a-z0-9]+)*)")re"));
    const QRegularExpression dotted(QStringLiteral(R"(^[a-z][a-z0-9]*(\.[a-z0-9]+)+$)"));
    const QRegularExpression notSymbol(
        QStringLiteral(R"(^(io|org|com|net)\.|\.(json|jsonl|png|svg|txt|wav|ttf|desktop|lock|com|io|org|net)$)"));
    const QRegularExpression symbolLine(QStringLiteral("symbol|systemImage|icon"),
                                        QRegularExpression::CaseInsensitiveOption);
    std::set<QString> missing;
    int scanned = 0;
    const QString root = QStringLiteral(ZQ_TEST_SOURCE_DIR "/../ZEPAquarn");
    for (const char *folder : {"menubar", "window", "rewards", "app"}) {
        QDirIterator files(root + QLatin1Char('/') + QLatin1String(folder),
                           {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            ++scanned;
            for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
                if (line.trimmed().startsWith(QLatin1String("//")) || line.contains(QLatin1String("qCWarning")) ||
                    line.contains(QLatin1String("qCInfo")) || line.contains(QLatin1String("qCDebug")))
                    continue;
                for (auto match = literal.globalMatch(line); match.hasNext();) {
                    const QString name = match.next().captured(1);
                    const bool isDotted = dotted.match(name).hasMatch() && !notSymbol.match(name).hasMatch();
                    // A property named "symbol" or "icon" is not a symbol.
                    const bool onSymbolLine = !name.contains(QLatin1Char('.')) && symbolLine.match(line).hasMatch() &&
                                              !symbolLine.match(name).hasMatch();
                    if ((isDotted || onSymbolLine) && !SymbolCatalogue::contains(name))
                        missing.insert(name + QStringLiteral(" in ") + files.fileName());
                }
            }
        }
    }
    EXPECT_GT(scanned, 10);
    for (const QString &name : missing)
        ADD_FAILURE() << "no symbol for " << name.toStdString();
}
