#include "platform/linux/freedesktop/LibsecretStore.h"

#include "runtime/Log.h"

// Qt's `signals` keyword macro breaks GLib's headers, which use the word as a field name.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <memory>

namespace zq::platform {

// GLib's own functions are found through libsecret's handle, among the libraries it loaded.
#define LIBSECRET_FUNCTIONS(X)                                                                                         \
    X(secret_service_get_sync)                                                                                         \
    X(secret_service_search_sync)                                                                                      \
    X(secret_item_get_secret)                                                                                          \
    X(secret_item_get_locked)                                                                                          \
    X(secret_value_new)                                                                                                \
    X(secret_value_get)                                                                                                \
    X(secret_value_unref)                                                                                              \
    X(secret_password_storev_binary_sync)                                                                              \
    X(secret_password_clearv_sync)                                                                                     \
    X(g_hash_table_new)                                                                                                \
    X(g_hash_table_insert)                                                                                             \
    X(g_hash_table_unref)                                                                                              \
    X(g_str_hash)                                                                                                      \
    X(g_str_equal)                                                                                                     \
    X(g_list_free_full)                                                                                                \
    X(g_object_unref)                                                                                                  \
    X(g_error_free)
ZQ_LIBRARY_FUNCTIONS(LibsecretStore::Functions, LIBSECRET_FUNCTIONS);

namespace {

using Functions = LibsecretStore::Functions;

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

// A GLib hash table of the item's attributes, unreferenced when it goes.
class Attributes {
public:
    // The strings are owned by the caller's QByteArrays, which outlive the table.
    Attributes(const Functions &glib, const QByteArray &service, const QByteArray &account)
        : m_glib(glib), m_table(glib.g_hash_table_new(glib.g_str_hash, glib.g_str_equal))
    {
        glib.g_hash_table_insert(m_table, const_cast<char *>("service"), const_cast<char *>(service.constData()));
        glib.g_hash_table_insert(m_table, const_cast<char *>("account"), const_cast<char *>(account.constData()));
    }
    ~Attributes() { m_glib.g_hash_table_unref(m_table); }
    Attributes(const Attributes &) = delete;
    Attributes &operator=(const Attributes &) = delete;

    GHashTable *get() const { return m_table; }

private:
    const Functions &m_glib;
    GHashTable *m_table;
};

rt::Error failure(const Functions &glib, const char *operation, GError *error)
{
    // The service's own text can be long and technical; the log keeps it, the caller gets a sentence.
    qCWarning(lcKeychain) << operation << "failed:" << (error ? error->message : "unknown error");
    const int code = error ? error->code : 0;
    if (error)
        glib.g_error_free(error);
    return rt::makeError(QStringLiteral("The secret store could not be used."), kDomain, code);
}

// The table, or the error every call gives when libsecret cannot be loaded (the log says why).
rt::Result<const Functions *> loaded(const LibraryOnFirstUse<Functions> &library)
{
    if (const Functions *functions = library.get())
        return functions;
    return rt::makeError(QStringLiteral("The secret store could not be used."), kDomain, 0);
}

} // namespace

LibsecretStore::LibsecretStore(QByteArray library)
    : m_secret(std::make_unique<const LibraryOnFirstUse<Functions>>(std::move(library)))
{}

LibsecretStore::~LibsecretStore() = default;

rt::Result<std::optional<QByteArray>> LibsecretStore::read(const QString &service, const QString &account)
{
    const auto functions = loaded(*m_secret);
    if (!functions)
        return functions.error();
    const Functions &f = *functions.value();
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    GError *error = nullptr;
    SecretService *secretService = f.secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!secretService)
        return failure(f, "connecting to the secret service", error);
    const Attributes query(f, s, a);
    // Loading secrets without SECRET_SEARCH_UNLOCK: a locked item stays locked, nobody is prompted.
    GList *items =
        f.secret_service_search_sync(secretService, schema(), query.get(), SECRET_SEARCH_LOAD_SECRETS, nullptr, &error);
    f.g_object_unref(secretService);
    if (error)
        return failure(f, "searching the secret service", error);

    std::optional<QByteArray> found;
    bool locked = false;
    if (items) {
        auto *item = static_cast<SecretItem *>(items->data);
        if (SecretValue *value = f.secret_item_get_secret(item)) {
            gsize length = 0;
            const gchar *bytes = f.secret_value_get(value, &length);
            found = QByteArray(bytes, static_cast<qsizetype>(length));
            f.secret_value_unref(value);
        } else {
            locked = f.secret_item_get_locked(item);
        }
    }
    f.g_list_free_full(items, f.g_object_unref);
    if (locked) {
        qCInfo(lcKeychain) << "secret is locked; not prompting";
        return rt::makeError(QStringLiteral("The secret store is locked."), kDomain, 1);
    }
    return found;
}

rt::Result<void> LibsecretStore::write(const QString &service, const QString &account, const QByteArray &secret)
{
    const auto functions = loaded(*m_secret);
    if (!functions)
        return functions.error();
    const Functions &f = *functions.value();
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    const Attributes item(f, s, a);
    SecretValue *value = f.secret_value_new(secret.constData(), secret.size(), "application/octet-stream");
    GError *error = nullptr;
    // Replaces an item with the same attributes in place, so the old secret survives a failed write.
    const gboolean stored = f.secret_password_storev_binary_sync(schema(), item.get(), SECRET_COLLECTION_DEFAULT,
                                                                 (s + " " + a).constData(), value, nullptr, &error);
    f.secret_value_unref(value);
    if (!stored || error)
        return failure(f, "storing a secret", error);
    return {};
}

rt::Result<void> LibsecretStore::remove(const QString &service, const QString &account)
{
    const auto functions = loaded(*m_secret);
    if (!functions)
        return functions.error();
    const Functions &f = *functions.value();
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    const Attributes item(f, s, a);
    GError *error = nullptr;
    f.secret_password_clearv_sync(schema(), item.get(), nullptr, &error); // false also means "nothing to clear"
    if (error)
        return failure(f, "removing a secret", error);
    return {};
}

} // namespace zq::platform
