#include "platform/linux/LibsecretStore.h"

#include "runtime/Log.h"

// Qt's `signals` keyword macro breaks GLib's headers, which use the word as a field name.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <memory>

namespace zq::platform {

// GLib's own functions come from the same handle: the loader finds them among libsecret's
// dependencies, so nothing of GLib's object system is linked into the executable either.
struct LibsecretStore::Functions {
    decltype(&secret_service_get_sync) serviceGet = nullptr;
    decltype(&secret_service_search_sync) serviceSearch = nullptr;
    decltype(&secret_item_get_secret) itemSecret = nullptr;
    decltype(&secret_item_get_locked) itemLocked = nullptr;
    decltype(&secret_value_new) valueNew = nullptr;
    decltype(&secret_value_get) valueGet = nullptr;
    decltype(&secret_value_unref) valueUnref = nullptr;
    decltype(&secret_password_storev_binary_sync) store = nullptr;
    decltype(&secret_password_clearv_sync) clear = nullptr;
    decltype(&g_hash_table_new) hashTableNew = nullptr;
    decltype(&g_hash_table_insert) hashTableInsert = nullptr;
    decltype(&g_hash_table_unref) hashTableUnref = nullptr;
    decltype(&g_str_hash) strHash = nullptr;
    decltype(&g_str_equal) strEqual = nullptr;
    decltype(&g_list_free_full) listFreeFull = nullptr;
    decltype(&g_object_unref) objectUnref = nullptr;
    decltype(&g_error_free) errorFree = nullptr;

    void bind(SharedLibrary &library)
    {
        library.bind(serviceGet, "secret_service_get_sync")
            .bind(serviceSearch, "secret_service_search_sync")
            .bind(itemSecret, "secret_item_get_secret")
            .bind(itemLocked, "secret_item_get_locked")
            .bind(valueNew, "secret_value_new")
            .bind(valueGet, "secret_value_get")
            .bind(valueUnref, "secret_value_unref")
            .bind(store, "secret_password_storev_binary_sync")
            .bind(clear, "secret_password_clearv_sync")
            .bind(hashTableNew, "g_hash_table_new")
            .bind(hashTableInsert, "g_hash_table_insert")
            .bind(hashTableUnref, "g_hash_table_unref")
            .bind(strHash, "g_str_hash")
            .bind(strEqual, "g_str_equal")
            .bind(listFreeFull, "g_list_free_full")
            .bind(objectUnref, "g_object_unref")
            .bind(errorFree, "g_error_free");
    }
};

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
        : m_glib(glib), m_table(glib.hashTableNew(glib.strHash, glib.strEqual))
    {
        glib.hashTableInsert(m_table, const_cast<char *>("service"), const_cast<char *>(service.constData()));
        glib.hashTableInsert(m_table, const_cast<char *>("account"), const_cast<char *>(account.constData()));
    }
    ~Attributes() { m_glib.hashTableUnref(m_table); }
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
        glib.errorFree(error);
    return rt::makeError(QStringLiteral("The secret store could not be used."), kDomain, code);
}

// The loaded functions, or the error every call gives when libsecret cannot be loaded.
rt::Result<const Functions *> loaded(const LibraryOnFirstUse<Functions> &library, const char *operation)
{
    const rt::Result<Functions> &functions = library.get();
    if (!functions) {
        qCWarning(lcKeychain).noquote() << operation << "failed:" << functions.error().message;
        return rt::makeError(QStringLiteral("The secret store could not be used."), kDomain, 0);
    }
    return &functions.value();
}

} // namespace

LibsecretStore::LibsecretStore(QByteArray library)
    : m_secret(std::make_unique<const LibraryOnFirstUse<Functions>>(std::move(library)))
{}

LibsecretStore::~LibsecretStore() = default;

rt::Result<std::optional<QByteArray>> LibsecretStore::read(const QString &service, const QString &account)
{
    const auto functions = loaded(*m_secret, "connecting to the secret service");
    if (!functions)
        return functions.error();
    const Functions &f = *functions.value();
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    GError *error = nullptr;
    SecretService *secretService = f.serviceGet(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!secretService)
        return failure(f, "connecting to the secret service", error);
    const Attributes query(f, s, a);
    // Loading secrets without SECRET_SEARCH_UNLOCK: a locked item stays locked, nobody is prompted.
    GList *items = f.serviceSearch(secretService, schema(), query.get(), SECRET_SEARCH_LOAD_SECRETS, nullptr, &error);
    f.objectUnref(secretService);
    if (error)
        return failure(f, "searching the secret service", error);

    std::optional<QByteArray> found;
    bool locked = false;
    if (items) {
        auto *item = static_cast<SecretItem *>(items->data);
        if (SecretValue *value = f.itemSecret(item)) {
            gsize length = 0;
            const gchar *bytes = f.valueGet(value, &length);
            found = QByteArray(bytes, static_cast<qsizetype>(length));
            f.valueUnref(value);
        } else {
            locked = f.itemLocked(item);
        }
    }
    f.listFreeFull(items, f.objectUnref);
    if (locked) {
        qCInfo(lcKeychain) << "secret is locked; not prompting";
        return rt::makeError(QStringLiteral("The secret store is locked."), kDomain, 1);
    }
    return found;
}

rt::Result<void> LibsecretStore::write(const QString &service, const QString &account, const QByteArray &secret)
{
    const auto functions = loaded(*m_secret, "storing a secret");
    if (!functions)
        return functions.error();
    const Functions &f = *functions.value();
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    const Attributes item(f, s, a);
    SecretValue *value = f.valueNew(secret.constData(), secret.size(), "application/octet-stream");
    GError *error = nullptr;
    // Replaces an item with the same attributes in place, so the old secret survives a failed write.
    const gboolean stored =
        f.store(schema(), item.get(), SECRET_COLLECTION_DEFAULT, (s + " " + a).constData(), value, nullptr, &error);
    f.valueUnref(value);
    if (!stored || error)
        return failure(f, "storing a secret", error);
    return {};
}

rt::Result<void> LibsecretStore::remove(const QString &service, const QString &account)
{
    const auto functions = loaded(*m_secret, "removing a secret");
    if (!functions)
        return functions.error();
    const Functions &f = *functions.value();
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    const Attributes item(f, s, a);
    GError *error = nullptr;
    f.clear(schema(), item.get(), nullptr, &error); // false also means "nothing to clear"
    if (error)
        return failure(f, "removing a secret", error);
    return {};
}

} // namespace zq::platform
