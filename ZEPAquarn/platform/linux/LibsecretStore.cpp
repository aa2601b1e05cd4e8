#include "platform/linux/LibsecretStore.h"

#include "runtime/Log.h"

// Qt's `signals` keyword macro breaks GLib's headers, which use the word as a field name.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <memory>

namespace zq::platform {

namespace {

const QString kDomain = QStringLiteral("io.quorvane.zepaquarn.secret-store");

const SecretSchema *schema()
{
    static const SecretSchema s = {"io.quorvane.zepaquarn.Secret",
                                   SECRET_SCHEMA_NONE,
                                   {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                   0,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
    return &s;
}

struct HashTableDeleter {
    void operator()(GHashTable *table) const { g_hash_table_unref(table); }
};
using Attributes = std::unique_ptr<GHashTable, HashTableDeleter>;

Attributes attributes(const QByteArray &service, const QByteArray &account)
{
    // The strings are owned by the caller's QByteArrays, which outlive the call.
    Attributes table(g_hash_table_new(g_str_hash, g_str_equal));
    g_hash_table_insert(table.get(), const_cast<char *>("service"), const_cast<char *>(service.constData()));
    g_hash_table_insert(table.get(), const_cast<char *>("account"), const_cast<char *>(account.constData()));
    return table;
}

rt::Error failure(const char *operation, GError *error)
{
    // The service's own text can be long and technical; the log keeps it, the caller gets a sentence.
    qCWarning(lcKeychain) << operation << "failed:" << (error ? error->message : "unknown error");
    const int code = error ? error->code : 0;
    if (error)
        g_error_free(error);
    return rt::makeError(QStringLiteral("The secret store could not be used."), kDomain, code);
}

} // namespace

rt::Result<std::optional<QByteArray>> LibsecretStore::read(const QString &service, const QString &account)
{
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    GError *error = nullptr;
    SecretService *secretService = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!secretService)
        return failure("connecting to the secret service", error);
    const Attributes query = attributes(s, a);
    // Loading secrets without SECRET_SEARCH_UNLOCK: a locked item stays locked, nobody is prompted.
    GList *items =
        secret_service_search_sync(secretService, schema(), query.get(), SECRET_SEARCH_LOAD_SECRETS, nullptr, &error);
    g_object_unref(secretService);
    if (error)
        return failure("searching the secret service", error);

    std::optional<QByteArray> found;
    bool locked = false;
    if (items) {
        auto *item = static_cast<SecretItem *>(items->data);
        if (SecretValue *value = secret_item_get_secret(item)) {
            gsize length = 0;
            const gchar *bytes = secret_value_get(value, &length);
            found = QByteArray(bytes, static_cast<qsizetype>(length));
            secret_value_unref(value);
        } else {
            locked = secret_item_get_locked(item);
        }
    }
    g_list_free_full(items, g_object_unref);
    if (locked) {
        qCInfo(lcKeychain) << "secret is locked; not prompting";
        return rt::makeError(QStringLiteral("The secret store is locked."), kDomain, 1);
    }
    return found;
}

rt::Result<void> LibsecretStore::write(const QString &service, const QString &account, const QByteArray &secret)
{
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    const Attributes item = attributes(s, a);
    SecretValue *value = secret_value_new(secret.constData(), secret.size(), "application/octet-stream");
    GError *error = nullptr;
    // Replaces an item with the same attributes in place, so the old secret survives a failed write.
    const gboolean stored = secret_password_storev_binary_sync(schema(), item.get(), SECRET_COLLECTION_DEFAULT,
                                                               (s + " " + a).constData(), value, nullptr, &error);
    secret_value_unref(value);
    if (!stored || error)
        return failure("storing a secret", error);
    return {};
}

rt::Result<void> LibsecretStore::remove(const QString &service, const QString &account)
{
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    const Attributes item = attributes(s, a);
    GError *error = nullptr;
    secret_password_clearv_sync(schema(), item.get(), nullptr, &error); // false also means "nothing to clear"
    if (error)
        return failure("removing a secret", error);
    return {};
}

} // namespace zq::platform
