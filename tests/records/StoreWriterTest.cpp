#include "records/StoreWriter.h"

#include "records/HistoryStore.h"
#include "records/StatsStore.h"
#include "support/VirtualLoop.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq;

namespace {

// Saves handed to a writer land in the order they were made, and its end waits for all of them:
// a store reloaded afterwards sees its last state, however quickly the saves followed each other.
TEST(StoreWriterTest, TheLastSaveOfEachStoreIsOnDiskOnceTheWriterHasEnded)
{
    QTemporaryDir dir;
    test::VirtualLoop loop;
    const QTimeZone zone(QByteArrayLiteral("Europe/Berlin"));
    HistoryStore history(dir.path(), loop.clocks());
    StatsStore stats(dir.path(), zone);
    {
        StoreWriter writer;
        history.setWriter(&writer);
        stats.setWriter(&writer);
        for (int i = 0; i < 40; ++i) {
            history.add(QStringLiteral("take %1").arg(i));
            stats.setArmedTake(1.5);
            stats.commitTake(3, QDateTime(QDate(2026, 3, 2), QTime(9, 0), zone));
        }
        history.setWriter(nullptr);
        stats.setWriter(nullptr);
    }
    const HistoryStore reloadedHistory(dir.path(), loop.clocks());
    ASSERT_EQ(reloadedHistory.items().size(), 40);
    EXPECT_EQ(reloadedHistory.latestText(), QStringLiteral("take 39"));
    EXPECT_EQ(StatsStore(dir.path(), zone).lifetimeTakes(), 40);
}

} // namespace
