// The API key in a real Secret Service: gnome-keyring on the test process's private session bus.
#include "platform/linux/freedesktop/LibsecretStore.h"
#include "support/DBusSession.h"
#include "support/ServiceEnvironment.h"
#include "transcription/Keychain.h"

#include <gtest/gtest.h>

// Qt's `signals` keyword macro breaks GLib's headers, which use the word as a field name.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <chrono>

using namespace zq;

namespace {

// Items of the key as the service itself lists them, locked or not.
int storedItemCount()
{
    GError *error = nullptr;
    SecretService *service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    if (!service) {
        g_clear_error(&error);
        return -1;
    }
    GHashTable *attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char *>("service"), const_cast<char *>("io.quorvane.zepaquarn"));
    g_hash_table_insert(attributes, const_cast<char *>("account"), const_cast<char *>("openai_api_key"));
    GList *items = secret_service_search_sync(service, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, &error);
    g_hash_table_unref(attributes);
    g_object_unref(service);
    g_clear_error(&error);
    const int count = static_cast<int>(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return count;
}

} // namespace

TEST(LibsecretStoreIntegrationTest, KeyRoundTripsThroughGnomeKeyring)
{
    test::DBusSession *bus = test::processSessionBus();
    ZQ_REQUIRE_SERVICE(bus && bus->startKeyring(), bus ? bus->errorString() : test::processSessionBusError());
    auto store = std::make_shared<platform::LibsecretStore>();
    Keychain keychain(store);

    EXPECT_EQ(keychain.readAPIKey(), std::nullopt);
    keychain.saveAPIKey(QStringLiteral(" sk-leading-blank"));
    EXPECT_EQ(keychain.readAPIKey(), std::optional<QString>(" sk-leading-blank"));

    keychain.saveAPIKey(QStringLiteral("sk-second-ünïcode"));
    EXPECT_EQ(keychain.readAPIKey(), std::optional<QString>("sk-second-ünïcode"));
    EXPECT_EQ(storedItemCount(), 1) << "saving twice leaves one item";

    ASSERT_TRUE(store->write(Keychain::service, Keychain::account, QByteArray("sk-\xc3\x28-x")));
    EXPECT_EQ(keychain.readAPIKey(), std::optional<QString>(QString::fromUtf8("sk-\uFFFD(-x")));

    keychain.saveAPIKey(QString());
    EXPECT_EQ(keychain.readAPIKey(), std::nullopt);
    EXPECT_EQ(storedItemCount(), 0);
    keychain.saveAPIKey(std::nullopt);
    EXPECT_EQ(keychain.readAPIKey(), std::nullopt) << "clearing nothing is no error";
}

TEST(LibsecretStoreIntegrationTest, WithoutItsLibraryEveryCallFailsAsAnUnusableStoreAndTheKeyringKeepsItsKey)
{
    test::DBusSession *bus = test::processSessionBus();
    ZQ_REQUIRE_SERVICE(bus && bus->startKeyring(), bus ? bus->errorString() : test::processSessionBusError());
    platform::LibsecretStore real;
    ASSERT_TRUE(real.write(Keychain::service, Keychain::account, "sk-kept"));

    platform::LibsecretStore missing("libzq-no-such-library.so.0");
    const QString unusable = QStringLiteral("The secret store could not be used.");
    const auto read = missing.read(Keychain::service, Keychain::account);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().message, unusable);
    const auto written = missing.write(Keychain::service, Keychain::account, "sk-other");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message, unusable);
    const auto removed = missing.remove(Keychain::service, Keychain::account);
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error().message, unusable);

    const auto kept = real.read(Keychain::service, Keychain::account);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept.value(), std::optional<QByteArray>("sk-kept"));
    EXPECT_TRUE(real.remove(Keychain::service, Keychain::account));
}

TEST(LibsecretStoreIntegrationTest, NoSecretServiceReadsAsNoKeyWithoutHanging)
{
    test::DBusSession *bus = test::processSessionBus();
    ZQ_REQUIRE_SERVICE(bus && bus->stopKeyring(), test::processSessionBusError());
    Keychain keychain(std::make_shared<platform::LibsecretStore>());

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(keychain.readAPIKey(), std::nullopt);
    keychain.saveAPIKey(QStringLiteral("sk-nowhere"));
    EXPECT_EQ(keychain.readAPIKey(), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}
