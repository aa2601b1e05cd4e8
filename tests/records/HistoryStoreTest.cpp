#include "records/HistoryStore.h"
#include "records/StoreWriter.h"

#include "support/VirtualLoop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>

using namespace zq;

namespace {

class HistoryStoreTest : public ::testing::Test {
protected:
    QString file() const { return dir.filePath(QStringLiteral("ZEPAquarn/history.json")); }
    QString folder() const { return dir.filePath(QStringLiteral("ZEPAquarn")); }
    QByteArray contents() const
    {
        QFile f(file());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void write(const QByteArray &bytes)
    {
        QDir().mkpath(folder());
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    QTemporaryDir dir;
    test::VirtualLoop loop;
};

TEST_F(HistoryStoreTest, AddTrimsIgnoresBlanksAndRoundTrips)
{
    HistoryStore store(folder(), loop.clocks());
    EXPECT_FALSE(QFileInfo::exists(file())) << "nothing written until the first addition";
    EXPECT_EQ(store.latestText(), std::nullopt);

    QSignalSpy changed(&store, &HistoryStore::itemsChanged);
    store.add(QStringLiteral("  \n\t "));
    store.add(QStringLiteral("\u00a0\u2003"));
    EXPECT_TRUE(store.items().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(file()));
    EXPECT_EQ(changed.count(), 0);

    store.add(QStringLiteral("  hello / world \n"));
    loop.advance(std::chrono::milliseconds(1500));
    store.add(QStringLiteral("second"));
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(store.latestText(), QStringLiteral("second"));
    ASSERT_EQ(store.items().size(), 2);
    EXPECT_EQ(store.items()[1].text, QStringLiteral("hello / world"));

    // The stored form: compact array, upper-case UUID, seconds since 2001 as the date.
    const QJsonArray array = QJsonDocument::fromJson(contents()).array();
    ASSERT_EQ(array.size(), 2);
    const QJsonObject first = array[0].toObject();
    EXPECT_EQ(first.value(QStringLiteral("id")).toString(), first.value(QStringLiteral("id")).toString().toUpper());
    EXPECT_DOUBLE_EQ(first.value(QStringLiteral("date")).toDouble(), 794134801.5) << "2026-03-02 09:00:01.5 UTC";

    HistoryStore reloaded(folder(), loop.clocks());
    EXPECT_EQ(reloaded.items(), store.items());
}

TEST_F(HistoryStoreTest, CapAppliesOnAdditionOnly)
{
    QJsonArray array;
    for (int i = 0; i < 800; ++i)
        array.append(
            HistoryItem{QUuid::createUuid(), QStringLiteral("old %1").arg(i), loop.clocks().wallNow()}.toJson());
    write(QJsonDocument(array).toJson(QJsonDocument::Compact));

    HistoryStore store(folder(), loop.clocks());
    EXPECT_EQ(store.items().size(), 800) << "a longer file loads whole";
    store.add(QStringLiteral("new"));
    ASSERT_EQ(store.items().size(), HistoryStore::maximumItems);
    EXPECT_EQ(store.items().first().text, QStringLiteral("new"));
    EXPECT_EQ(store.items().last().text, QStringLiteral("old 498"));
    store.add(QStringLiteral("newer"));
    EXPECT_EQ(store.items().size(), HistoryStore::maximumItems);
    EXPECT_EQ(store.items().last().text, QStringLiteral("old 497"));
}

TEST_F(HistoryStoreTest, CorruptFileIsKeptAsideNotOverwritten)
{
    const QByteArray cases[] = {"{not json", R"([{"id":"8C4F3F6C-2C1F-4E55-9E3A-0D5A1E1B2C3D","text":"no date"}])",
                                R"({"id":1})"};
    for (const QByteArray &bad : cases) {
        QDir(folder()).removeRecursively();
        write(bad);
        HistoryStore store(folder(), loop.clocks());
        EXPECT_TRUE(store.items().isEmpty()) << bad.constData();
        store.add(QStringLiteral("fresh"));
        const QStringList aside =
            QDir(folder()).entryList({QStringLiteral("history.json.corrupt-*")}, QDir::Files | QDir::Hidden);
        ASSERT_EQ(aside.size(), 1) << bad.constData();
        QFile kept(QDir(folder()).filePath(aside.first()));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), bad);
        EXPECT_EQ(QJsonDocument::fromJson(contents()).array().size(), 1);
    }
}

TEST_F(HistoryStoreTest, OneDamagedItemHidesNoOtherItem)
{
    write(R"([{"id":"8C4F3F6C-2C1F-4E55-9E3A-0D5A1E1B2C3D","text":"first","date":700000000},)"
          R"({"id":"9C4F3F6C-2C1F-4E55-9E3A-0D5A1E1B2C3D","text":42,"date":700000001},)"
          R"("not an item",)"
          R"({"id":"AC4F3F6C-2C1F-4E55-9E3A-0D5A1E1B2C3D","text":"third","date":700000002}])");
    const QByteArray original = contents();
    {
        HistoryStore store(folder(), loop.clocks());
        ASSERT_EQ(store.items().size(), 2);
        EXPECT_EQ(store.items().at(0).text, QStringLiteral("first"));
        EXPECT_EQ(store.items().at(1).text, QStringLiteral("third"));
    }
    const QStringList aside = QDir(folder()).entryList({QStringLiteral("history.json.corrupt-*")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1) << "the file with the damaged items is kept";
    QFile kept(QDir(folder()).filePath(aside.first()));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), original);

    // The items that loaded are on disk again, so the next start shows them without a new take.
    HistoryStore next(folder(), loop.clocks());
    EXPECT_EQ(next.items().size(), 2);
    EXPECT_EQ(QDir(folder()).entryList({QStringLiteral("history.json.corrupt-*")}, QDir::Files).size(), 1)
        << "a clean file is not set aside again";
}

TEST_F(HistoryStoreTest, RemoveAndSearch)
{
    HistoryStore store(folder(), loop.clocks());
    store.add(QStringLiteral("we concatenate strings"));
    store.add(QStringLiteral("A CAT sat"));
    store.add(QStringLiteral("dog\nline"));
    store.add(QStringLiteral("café"));

    const auto texts = [](const QList<HistoryItem> &items) {
        QStringList out;
        for (const auto &item : items)
            out << item.text;
        return out;
    };
    EXPECT_EQ(texts(store.filtered(QStringLiteral("  Cat \t"))),
              (QStringList{QStringLiteral("A CAT sat"), QStringLiteral("we concatenate strings")}));
    EXPECT_EQ(store.filtered(QStringLiteral("   ")).size(), 4);
    EXPECT_EQ(texts(store.filtered(QStringLiteral("dog\n"))), QStringList{QStringLiteral("dog\nline")})
        << "a line break in the query is kept";
    EXPECT_TRUE(store.filtered(QStringLiteral("dog \n")).isEmpty());
    EXPECT_TRUE(store.filtered(QStringLiteral("cafe")).isEmpty()) << "diacritics are significant";

    const QByteArray before = contents();
    QSignalSpy changed(&store, &HistoryStore::itemsChanged);
    store.remove(QUuid::createUuid());
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(contents(), before);
    store.remove(store.items()[1].id);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(HistoryStore(folder(), loop.clocks()).items().size(), 3);
}

} // namespace

// What must wait for the words to be on disk (a take's file) runs also when their save already is.
TEST_F(HistoryStoreTest, WhatWaitsForTheDiskRunsWhenTheLatestSaveIsAlreadyThere)
{
    StoreWriter writer;
    HistoryStore store(folder(), loop.clocks());
    store.setWriter(&writer);
    store.add(QStringLiteral("words"));
    writer.waitUntilWritten();
    std::atomic<bool> ran{false};
    store.whenOnDisk([&] { ran = true; });
    writer.waitUntilWritten();
    EXPECT_TRUE(ran);
}
