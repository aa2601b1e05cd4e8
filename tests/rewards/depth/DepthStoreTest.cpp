#include "rewards/depth/DepthStore.h"
#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"
#include "support/FakeHttpClient.h"
#include "support/VirtualLoop.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq;
using test::FakeHttpClient;

namespace {

using Tiers = std::set<DepthTier>;

QByteArray lookupAnswer(const QString &code, qint64 count)
{
    return QStringLiteral(R"({"code":"%1","count":%2})").arg(code).arg(count).toUtf8();
}

class DepthStoreTest : public ::testing::Test {
protected:
    DepthStoreTest() { registerDefaults(settings); }

    DepthStore makeStoreWithCode(qint64 storedCount = -1)
    {
        settings.setValue("inviteCode", QStringLiteral("7K3M9Q"));
        settings.setValue("inviteVerifiedDownloads", storedCount);
        return DepthStore(settings, InviteService(transport));
    }

    template <typename T>
    T run(rt::Task<T> task)
    {
        auto handle = rt::spawn(loop, std::move(task));
        EXPECT_TRUE(loop.runUntil([&] { return handle.isDone(); })) << "the request never ended";
        return *handle.result();
    }

    test::VirtualLoop loop;
    rt::Settings settings{QString()};
    std::shared_ptr<FakeHttpClient> transport = std::make_shared<FakeHttpClient>();
};

} // namespace

TEST_F(DepthStoreTest, FirstLaunchHoldsNothing)
{
    DepthStore store(settings, InviteService(transport));
    EXPECT_TRUE(store.unlocked().empty());
    EXPECT_FALSE(store.code());
    EXPECT_FALSE(store.verifiedDownloads()) << "the registered -1 means unknown";
    EXPECT_EQ(store.selection(), Colorway::consensusMint);
    EXPECT_EQ(store.effectiveColorway(), Colorway::consensusMint);
    EXPECT_FALSE(store.inviteRequestInFlight());
    EXPECT_FALSE(store.inviteError());
    EXPECT_FALSE(store.shareURL());
}

TEST_F(DepthStoreTest, LoadsStoredValuesAndDropsBadOnes)
{
    settings.setValue("depthUnlocked", QList<qint64>{3, 7, 1});
    settings.setValue("inviteCode", QStringLiteral("7k3m9q"));
    settings.setValue("inviteVerifiedDownloads", QStringLiteral("4"));
    settings.setValue("depthSelection", QStringLiteral("Monochrome"));
    const DepthStore store(settings, InviteService(transport));
    EXPECT_EQ(store.unlocked(), (Tiers{DepthTier::shallows, DepthTier::abyss}));
    EXPECT_FALSE(store.code()) << "codes are case-sensitive";
    EXPECT_EQ(settings.stringValue("inviteCode"), "7k3m9q") << "a bad stored code is ignored, not rewritten";
    EXPECT_FALSE(store.verifiedDownloads()) << "a count stored as text is no count";
    EXPECT_EQ(store.selection(), Colorway::consensusMint);

    settings.setValue("inviteVerifiedDownloads", 2.0);
    EXPECT_EQ(DepthStore(settings).verifiedDownloads(), 2) << "any number counts";
}

// A single malformed element used to make the whole "depthUnlocked" entry unreadable, taking
// every tier with it; the stored count now proves the tiers it reached.
TEST_F(DepthStoreTest, AMalformedTierListKeepsWhatTheCountProves)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.json");
    {
        rt::Settings stored(path);
        stored.setValue("depthUnlocked", QList<qint64>{1, 2});
        stored.setValue("inviteVerifiedDownloads", qint64(3));
        ASSERT_TRUE(stored.sync());
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    QJsonObject values = root.value("values").toObject();
    QJsonObject entry = values.value("depthUnlocked").toObject();
    entry.insert("value", QJsonArray{1, "x"});
    values.insert("depthUnlocked", entry);
    root.insert("values", values);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(root).toJson());
    file.close();

    rt::Settings reloaded(path);
    registerDefaults(reloaded);
    EXPECT_EQ(DepthStore(reloaded).unlocked(), (Tiers{DepthTier::shallows, DepthTier::twilight}));

    reloaded.setValue("inviteVerifiedDownloads", qint64(-1));
    EXPECT_TRUE(DepthStore(reloaded).unlocked().empty()) << "without a count nothing is proven";

    reloaded.setValue("depthUnlocked", QList<qint64>{3});
    reloaded.setValue("inviteVerifiedDownloads", qint64(1));
    EXPECT_EQ(DepthStore(reloaded).unlocked(), (Tiers{DepthTier::shallows, DepthTier::abyss})) << "the union";
}

TEST_F(DepthStoreTest, RefreshUnlocksTiersAndNeverGoesBack)
{
    DepthStore store = makeStoreWithCode(2);
    EXPECT_EQ(store.unlocked(), Tiers{DepthTier::shallows}) << "2 stored downloads reach the first tier";
    QSignalSpy unlockedChanged(&store, &DepthStore::unlockedChanged);

    transport->enqueue(FakeHttpClient::answer(200, lookupAnswer("7K3M9Q", 4)));
    EXPECT_TRUE(run(store.refreshProgress()));
    EXPECT_EQ(store.verifiedDownloads(), 4);
    EXPECT_EQ(store.unlocked(), (Tiers{DepthTier::shallows, DepthTier::twilight}));
    EXPECT_EQ(settings.integerValue("inviteVerifiedDownloads"), 4);
    EXPECT_EQ(settings.integerListValue("depthUnlocked"), (QList<qint64>{1, 2}));
    EXPECT_EQ(unlockedChanged.count(), 1);
    ASSERT_EQ(transport->requestCount(), 1);
    EXPECT_EQ(transport->requests()[0].url.path(), "/api/invite/7K3M9Q");

    transport->enqueue(FakeHttpClient::answer(200, lookupAnswer("7K3M9Q", 1)));
    EXPECT_TRUE(run(store.refreshProgress()));
    EXPECT_EQ(store.verifiedDownloads(), 4) << "a lower count never lowers the stored one";
    EXPECT_EQ(store.unlocked(), (Tiers{DepthTier::shallows, DepthTier::twilight}));
    EXPECT_EQ(settings.integerValue("inviteVerifiedDownloads"), 4);
    EXPECT_EQ(unlockedChanged.count(), 1);
}

TEST_F(DepthStoreTest, RefreshFromNoCountCanUnlockEverything)
{
    DepthStore store = makeStoreWithCode(-1);
    transport->enqueue(FakeHttpClient::answer(200, lookupAnswer("7K3M9Q", 5)));
    EXPECT_TRUE(run(store.refreshProgress()));
    EXPECT_EQ(store.unlocked(), (Tiers{DepthTier::shallows, DepthTier::twilight, DepthTier::abyss}));
    EXPECT_EQ(settings.integerListValue("depthUnlocked"), (QList<qint64>{1, 2, 3}));
}

TEST_F(DepthStoreTest, FailedRefreshSaysSoAndChangesNothingElse)
{
    DepthStore store = makeStoreWithCode(2);
    transport->enqueue(FakeHttpClient::answer(500, lookupAnswer("7K3M9Q", 9)));
    EXPECT_FALSE(run(store.refreshProgress()));
    EXPECT_EQ(store.inviteError(), QString::fromUtf8("Couldn’t refresh invite progress."));
    EXPECT_EQ(store.verifiedDownloads(), 2);
    EXPECT_FALSE(store.inviteRequestInFlight());

    transport->enqueue(FakeHttpClient::answer(200, lookupAnswer("7K3M9Q", 2)));
    auto handle = rt::spawn(loop, store.refreshProgress());
    loop.runUntilIdle();
    EXPECT_FALSE(store.inviteError()) << "the next request clears the error when it starts";
    ASSERT_TRUE(loop.runUntil([&] { return handle.isDone(); }));
}

TEST_F(DepthStoreTest, RefreshWithoutCodeOrDuringARequestIsRefused)
{
    DepthStore none(settings, InviteService(transport));
    EXPECT_FALSE(run(none.refreshProgress()));
    EXPECT_EQ(transport->requestCount(), 0);

    DepthStore store = makeStoreWithCode(0);
    test::FakeGate gate;
    transport->holdNextCallAt(&gate);
    transport->enqueue(FakeHttpClient::answer(200, lookupAnswer("7K3M9Q", 1)));
    auto first = rt::spawn(loop, store.refreshProgress());
    ASSERT_TRUE(loop.runUntil([&] { return store.inviteRequestInFlight(); }));
    ASSERT_TRUE(gate.waitUntilReached());

    QSignalSpy changed(&store, &DepthStore::inviteStateChanged);
    EXPECT_FALSE(run(store.refreshProgress())) << "one request at a time";
    EXPECT_EQ(changed.count(), 0) << "a refused call changes nothing, not even the error";
    EXPECT_EQ(transport->requestCount(), 1);

    gate.open();
    ASSERT_TRUE(loop.runUntil([&] { return first.isDone(); }));
    EXPECT_TRUE(*first.result());
    EXPECT_EQ(store.unlocked(), Tiers{DepthTier::shallows});
}

TEST_F(DepthStoreTest, CreateStoresTheCodeAndResetsTheCount)
{
    settings.setValue("inviteVerifiedDownloads", qint64(7));
    DepthStore store(settings, InviteService(transport));
    const Tiers before = store.unlocked();
    transport->enqueue(FakeHttpClient::answer(201, R"({"code":"AB12CD"})"));
    EXPECT_TRUE(run(store.createInviteLink()));
    EXPECT_EQ(store.code(), "AB12CD");
    EXPECT_EQ(settings.stringValue("inviteCode"), "AB12CD");
    EXPECT_EQ(store.verifiedDownloads(), 0);
    EXPECT_EQ(settings.integerValue("inviteVerifiedDownloads"), 0);
    EXPECT_EQ(store.unlocked(), before) << "tiers are not touched";
    ASSERT_TRUE(store.shareURL());
    EXPECT_EQ(store.shareURL()->toString(), "https://" + InviteService::host() + "/i/AB12CD");

    EXPECT_TRUE(run(store.createInviteLink())) << "a held code answers at once";
    EXPECT_EQ(transport->requestCount(), 1) << "and sends nothing";
}

TEST_F(DepthStoreTest, CreateDuringARequestIsRefused)
{
    DepthStore store(settings, InviteService(transport));
    test::FakeGate gate;
    transport->holdNextCallAt(&gate);
    transport->enqueue(FakeHttpClient::answer(200, R"({"code":"AB12CD","count":null})"));
    auto first = rt::spawn(loop, store.createInviteLink());
    ASSERT_TRUE(loop.runUntil([&] { return store.inviteRequestInFlight(); }));
    ASSERT_TRUE(gate.waitUntilReached());
    EXPECT_FALSE(run(store.createInviteLink()));
    EXPECT_EQ(transport->requestCount(), 1);
    gate.open();
    ASSERT_TRUE(loop.runUntil([&] { return first.isDone(); }));
    EXPECT_TRUE(*first.result());
    EXPECT_EQ(store.code(), "AB12CD");
}

TEST_F(DepthStoreTest, FailedCreateNamesTheHost)
{
    DepthStore store(settings, InviteService(transport));
    transport->enqueue(FakeHttpClient::answer(200, R"({"code":"ab12cd"})"));
    EXPECT_FALSE(run(store.createInviteLink()));
    EXPECT_EQ(store.inviteError(), QString::fromUtf8("Couldn’t reach ") + InviteService::host() + ". Try again.");
    EXPECT_FALSE(store.code());
    EXPECT_EQ(settings.stringValue("inviteCode"), "");
    EXPECT_FALSE(store.inviteRequestInFlight());
}

TEST_F(DepthStoreTest, ALockedSelectionIsKeptButNotWorn)
{
    settings.setValue("depthUnlocked", QList<qint64>{1});
    DepthStore store = makeStoreWithCode(1);
    store.setSelection(Colorway::deepOrbit);
    EXPECT_EQ(settings.stringValue("depthSelection"), "deepOrbit");
    EXPECT_EQ(store.selection(), Colorway::deepOrbit);
    EXPECT_EQ(store.effectiveColorway(), Colorway::consensusMint);

    transport->enqueue(FakeHttpClient::answer(200, lookupAnswer("7K3M9Q", 3)));
    EXPECT_TRUE(run(store.refreshProgress()));
    EXPECT_EQ(store.effectiveColorway(), Colorway::deepOrbit) << "worn once its tier unlocks, without a new choice";
}

TEST_F(DepthStoreTest, ARequestOutlivingItsStoreTouchesNothing)
{
    test::FakeGate gate;
    transport->holdNextCallAt(&gate);
    transport->enqueue(FakeHttpClient::answer(200, lookupAnswer("7K3M9Q", 5)));
    rt::TaskHandle<bool> handle;
    {
        DepthStore store = makeStoreWithCode(0);
        handle = rt::spawn(loop, store.refreshProgress());
        ASSERT_TRUE(loop.runUntil([&] { return store.inviteRequestInFlight(); }));
        ASSERT_TRUE(gate.waitUntilReached());
    }
    gate.open();
    ASSERT_TRUE(loop.runUntil([&] { return handle.isDone(); }));
    EXPECT_FALSE(*handle.result());
    EXPECT_EQ(settings.integerValue("inviteVerifiedDownloads"), 0);
}
