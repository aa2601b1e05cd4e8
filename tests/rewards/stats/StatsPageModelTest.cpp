#include "rewards/stats/StatsPageModel.h"
#include "pipeline/SettingsDefaults.h"
#include "records/StatsStore.h"
#include "rewards/motion/MotionStore.h"
#include "runtime/Settings.h"
#include "support/FakePasteboard.h"
#include "support/VirtualLoop.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq;
using namespace std::chrono_literals;

namespace {

const QTimeZone berlin(QByteArrayLiteral("Europe/Berlin"));

QDateTime at(int y, int m, int d, int h = 12)
{
    return QDateTime(QDate(y, m, d), QTime(h, 0), berlin);
}

// Records what it was asked to render; answers with fixed bytes, or nothing.
class ScriptedRenderer final : public LedgerPNGRendering {
public:
    std::optional<QByteArray> pngData(const StatsLedgerContent &model, QSizeF size, qreal scale,
                                      Colorway colorway) const override
    {
        ++calls;
        lastModel = model;
        lastSize = size;
        lastScale = scale;
        lastColorway = colorway;
        if (fails)
            return std::nullopt;
        return QByteArrayLiteral("\x89PNG-card");
    }

    bool fails = false;
    mutable int calls = 0;
    mutable std::optional<StatsLedgerContent> lastModel;
    mutable QSizeF lastSize;
    mutable qreal lastScale = 0;
    mutable Colorway lastColorway = Colorway::consensusMint;
};

class StatsPageModelTest : public ::testing::Test {
protected:
    StatsPageModelTest()
    {
        registerDefaults(settings);
        exporter.renderer = renderer;
        exporter.pasteboard = std::make_shared<LedgerPasteboard>(pasteboard);
        exporter.locale = QLocale(QLocale::German, QLocale::Germany);
    }

    void dictate(const QDateTime &when, qint64 words, double seconds)
    {
        store.setArmedTake(seconds);
        ASSERT_TRUE(store.commitTake(words, when));
    }

    QTemporaryDir dir;
    StatsStore store{dir.path(), berlin};
    rt::Settings settings{QString()};
    test::VirtualLoop loop;
    test::FakePasteboard pasteboard;
    std::shared_ptr<ScriptedRenderer> renderer = std::make_shared<ScriptedRenderer>();
    LedgerExporter exporter;
};

} // namespace

TEST_F(StatsPageModelTest, PagesWeeksAndComparesWithTheWeekBefore)
{
    dictate(at(2026, 3, 2), 100, 30);                                      // week 10
    dictate(at(2026, 3, 10), 137, 40);                                     // week 11
    StatsPageModel page(store, settings, loop, exporter, at(2026, 3, 18)); // week 12
    QSignalSpy changed(&page, &StatsPageModel::changed);

    EXPECT_EQ(page.navigation().weekLabel, "WEEK 12");
    EXPECT_FALSE(page.hasTakes()) << "an empty week shows the empty state";
    EXPECT_EQ(page.content().orbit.percent, "-100%");

    page.showNextWeek();
    EXPECT_EQ(changed.count(), 0) << "no week after the current one";

    page.showPreviousWeek();
    EXPECT_TRUE(page.hasTakes());
    const StatsPageModel::Content week11 = page.content();
    EXPECT_EQ(week11.selected.words, 137);
    EXPECT_EQ(week11.previous.week.weekOfYear, 10);
    EXPECT_EQ(week11.orbit.percent, "+37%");
    EXPECT_DOUBLE_EQ(week11.orbit.dialProgress, 0.37);
    EXPECT_EQ(week11.orbit.previousWeekLabel, "VS WEEK 10");

    page.showPreviousWeek();
    EXPECT_EQ(page.content().orbit.percent, QString(QChar(0x2014))) << "week 9 holds no words";
    EXPECT_EQ(changed.count(), 2);
}

TEST_F(StatsPageModelTest, TypingBaselineRoundsAndFeedsTheLedger)
{
    dictate(at(2026, 3, 18), 1200, 600);
    StatsPageModel page(store, settings, loop, exporter, at(2026, 3, 18));
    QSignalSpy changed(&page, &StatsPageModel::changed);
    EXPECT_EQ(page.typingWPM(), 40);
    EXPECT_EQ(page.ledger(QLocale::c()).rows.size(), 3u);

    page.setTypingWPM(24.5);
    EXPECT_EQ(settings.integerValue("typingWPM"), 25) << "kept within the slider's range";
    EXPECT_EQ(changed.count(), 1) << "the page follows the setting";
    page.setTypingWPM(62.5);
    EXPECT_EQ(page.typingWPM(), 63) << "halves away from zero";
    page.setTypingWPM(90);
    EXPECT_EQ(page.typingWPM(), 80);

    // 1200 words at 120 WPM take 600 s, as long as speaking: the reclaimed row goes.
    settings.setValue("typingWPM", qint64(120));
    const StatsLedgerContent ledger = page.ledger(QLocale::c());
    ASSERT_EQ(ledger.rows.size(), 2u);
    EXPECT_EQ(ledger.rows[1].value, "10 m");
}

TEST_F(StatsPageModelTest, CopyRendersTheCardAndResetsItsLabelAfterTheNewestCopy)
{
    dictate(at(2026, 3, 18), 12345, 600);
    StatsPageModel page(store, settings, loop, exporter, at(2026, 3, 18));
    page.setColorway(Colorway::deepOrbit);
    page.setInviteCode(QStringLiteral("7K3M9Q"));
    EXPECT_EQ(page.copyFeedback(), (LedgerCopyFeedback{"Copy as image", 0}));

    EXPECT_TRUE(page.copyLedger());
    EXPECT_EQ(page.copyFeedback(), (LedgerCopyFeedback{QString::fromUtf8("Copied PNG ✓"), 1}));
    EXPECT_EQ(renderer->lastSize, QSizeF(480, 380));
    EXPECT_EQ(renderer->lastScale, 2.0);
    EXPECT_EQ(renderer->lastColorway, Colorway::deepOrbit);
    ASSERT_TRUE(renderer->lastModel);
    EXPECT_EQ(renderer->lastModel->wordCount, "12.345") << "in the exporter's locale";
    EXPECT_TRUE(renderer->lastModel->website.endsWith("/i/7K3M9Q"));
    ASSERT_EQ(pasteboard.items().size(), 1u);
    EXPECT_EQ(pasteboard.items()[0], (platform::PasteboardItem{{"image/png", QByteArrayLiteral("\x89PNG-card")}}));

    loop.advance(1s);
    EXPECT_TRUE(page.copyLedger());
    EXPECT_EQ(page.copyFeedback().generation, 2u);
    loop.advance(0.8s + 1ms);
    EXPECT_EQ(page.copyFeedback().label, QString::fromUtf8("Copied PNG ✓")) << "the first copy's reset is stale";
    loop.advance(1s - 2ms);
    EXPECT_EQ(page.copyFeedback().label, QString::fromUtf8("Copied PNG ✓"));
    loop.advance(1ms);
    EXPECT_EQ(page.copyFeedback(), (LedgerCopyFeedback{"Copy as image", 2})) << "1.8 s after the second copy";
}

TEST_F(StatsPageModelTest, AFailedCopyLeavesTheClipboardAsItWas)
{
    dictate(at(2026, 3, 18), 50, 10);
    StatsPageModel page(store, settings, loop, exporter, at(2026, 3, 18));
    pasteboard.copyFromOtherApplication({{{"text/plain", "mine"}}});
    renderer->fails = true;

    EXPECT_FALSE(page.copyLedger());
    EXPECT_EQ(page.copyFeedback(), (LedgerCopyFeedback{"Copy as image", 1}));
    EXPECT_EQ(pasteboard.text(), "mine");
    EXPECT_EQ(loop.pendingCount(), 0) << "no reset is scheduled";

    LedgerPasteboard writer(pasteboard);
    EXPECT_FALSE(writer.write("II*\0", "image/tiff")) << "only PNG is accepted";
    EXPECT_EQ(pasteboard.text(), "mine");

    page.showPreviousWeek();
    renderer->fails = false;
    EXPECT_FALSE(page.copyLedger()) << "a week without takes cannot be copied";
    EXPECT_EQ(renderer->calls, 1) << "and nothing is rendered for it";
    EXPECT_EQ(pasteboard.writeCount(), 0);
}

TEST_F(StatsPageModelTest, AnnouncesAnUnlockOnceWhenThePageAppears)
{
    // 12000 words spoken in 600 s reclaim 17400 s against 40 words a minute: past 4 hours.
    dictate(at(2026, 3, 18), 12000, 600);
    MotionStore motion(settings);
    StatsPageModel page(store, settings, loop, exporter, at(2026, 3, 18));
    page.announcePendingUnlock();
    EXPECT_FALSE(page.unlock()) << "without a motion store nothing is announced";

    page.setUnlockAnnouncements(&motion);
    page.announcePendingUnlock();
    EXPECT_EQ(page.unlock(), PillAnimationStyle::scaledPieces);
    page.markUnlockAnnounced();
    EXPECT_TRUE(motion.announced().count(PillAnimationStyle::scaledPieces));
    page.announcePendingUnlock();
    EXPECT_EQ(page.unlock(), PillAnimationStyle::scaledPieces) << "the line stays while the page shows";

    page.restart(at(2026, 3, 18));
    EXPECT_FALSE(page.unlock());
    page.announcePendingUnlock();
    EXPECT_FALSE(page.unlock()) << "announced once";
}
