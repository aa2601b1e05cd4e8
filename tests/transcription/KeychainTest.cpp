#include "transcription/Keychain.h"

#include "support/FakeSecretStore.h"
#include "support/VirtualLoop.h"

#include <gtest/gtest.h>

using namespace zq;

namespace {

class KeychainTest : public ::testing::Test {
protected:
    std::shared_ptr<test::FakeSecretStore> store = std::make_shared<test::FakeSecretStore>();
    Keychain keychain{store};
};

} // namespace

TEST_F(KeychainTest, KeysAreStoredByteForByteUnderTheAppsServiceAndAccount)
{
    EXPECT_EQ(keychain.readAPIKey(), std::nullopt) << "nothing stored yet, and no error";
    keychain.saveAPIKey(QStringLiteral(" sk-test \n"));
    EXPECT_EQ(keychain.readAPIKey(), std::optional<QString>(" sk-test \n")) << "blanks are the caller's business";
    EXPECT_EQ(store->items().keys(), QStringList{"io.quorvane.zepaquarn/openai_api_key"});

    keychain.saveAPIKey(QStringLiteral("sk-second"));
    EXPECT_EQ(store->items().size(), 1);
    EXPECT_EQ(keychain.readAPIKey(), std::optional<QString>("sk-second"));

    keychain.saveAPIKey(QString());
    EXPECT_EQ(keychain.readAPIKey(), std::nullopt);
    keychain.saveAPIKey(QStringLiteral("sk-third"));
    keychain.saveAPIKey(std::nullopt);
    EXPECT_EQ(keychain.readAPIKey(), std::nullopt);
}

TEST_F(KeychainTest, InvalidUtf8ReadsWithReplacementCharacters)
{
    store->setItem(Keychain::service, Keychain::account, QByteArray("sk-\xff\xfe-end"));
    const auto key = keychain.readAPIKey();
    ASSERT_TRUE(key);
    EXPECT_EQ(*key, QString::fromUtf8("sk-\uFFFD\uFFFD-end"));
}

TEST_F(KeychainTest, AFailingStoreNeverLosesTheStoredKey)
{
    keychain.saveAPIKey(QStringLiteral("sk-old"));
    store->failWrites = true;
    keychain.saveAPIKey(QStringLiteral("sk-new"));
    store->failWrites = false;
    EXPECT_EQ(keychain.readAPIKey(), std::optional<QString>("sk-old")) << "a refused write keeps the old key";
    EXPECT_FALSE(store->calls().contains("remove")) << "replacing a key never deletes it first";

    store->failReads = true;
    EXPECT_EQ(keychain.readAPIKey(), std::nullopt) << "a locked or refusing store reads as no key";
}

TEST_F(KeychainTest, BackgroundCallsLeaveTheLoopFree)
{
    test::VirtualLoop loop;
    auto save = rt::spawn(loop, keychain.saveAPIKeyInBackground(QStringLiteral("sk-bg")));
    ASSERT_TRUE(loop.runUntil([&] { return save.isDone(); }));
    auto read = rt::spawn(loop, keychain.readAPIKeyInBackground());
    ASSERT_TRUE(loop.runUntil([&] { return read.isDone(); }));
    ASSERT_FALSE(read.hasFailed());
    EXPECT_EQ(*read.result(), std::optional<QString>("sk-bg"));
}
