#pragma once

#include "runtime/Result.h"

#include <QByteArray>

#include <mutex>
#include <optional>
#include <utility>

namespace zq::platform {

// A library the executable does not link, opened when a feature first needs it, so that a launch does
// not pay for loading it and everything it depends on. It is never closed: the functions found in it
// stay valid for the life of the process.
class SharedLibrary {
public:
    // Opens `soname` ("libcrypto.so.3"); the error carries the loader's reason.
    static rt::Result<SharedLibrary> open(const QByteArray &soname);

    // Finds `name` in the library or in those it loaded, as the type its header declares (the
    // library's own `decltype(&function)`). A name not found leaves `function` null and is kept for
    // status().
    template <typename Function>
    SharedLibrary &bind(Function &function, const char *name)
    {
        function = reinterpret_cast<Function>(find(name));
        return *this;
    }
    // Whether every bind() found its function; the error names the first that was missing.
    rt::Result<void> status() const;

private:
    SharedLibrary(QByteArray soname, void *handle) : m_soname(std::move(soname)), m_handle(handle) {}
    void *find(const char *name);

    QByteArray m_soname;
    void *m_handle = nullptr;
    std::optional<rt::Error> m_missing;
};

// Opens `soname` and binds a table of its functions: `Functions` holds a pointer per function and
// binds them all in `void bind(SharedLibrary &)`. The error names what could not be opened or found.
// Says in the log that a library opened on first use could not be.
void logLoadFailure(const rt::Error &error);

template <typename Functions>
rt::Result<Functions> loadFunctions(const QByteArray &soname)
{
    auto library = SharedLibrary::open(soname);
    if (!library)
        return library.error();
    Functions functions;
    functions.bind(library.value());
    if (auto bound = library.value().status(); !bound)
        return bound.error();
    return functions;
}

// A table of a library's functions (as for loadFunctions), loaded on the first get() from any
// thread; the outcome, a failure included, is kept. A failure is logged once, when it happens.
template <typename Functions>
class LibraryOnFirstUse {
public:
    explicit LibraryOnFirstUse(QByteArray soname) : m_soname(std::move(soname)) {}

    const rt::Result<Functions> &get() const
    {
        std::call_once(m_once, [this] {
            m_loaded.emplace(loadFunctions<Functions>(m_soname));
            if (!*m_loaded) {
                m_reason = m_loaded->error().message.toUtf8();
                logLoadFailure(m_loaded->error());
            }
        });
        return *m_loaded;
    }
    // The table, or null when the library could not be loaded.
    const Functions *functions() const
    {
        const rt::Result<Functions> &loaded = get();
        return loaded ? &loaded.value() : nullptr;
    }
    // Why the load failed, for a library's own "error string" functions to hand back; valid for
    // the life of the table once functions() returned null.
    const char *failureReason() const { return m_reason.constData(); }

private:
    const QByteArray m_soname;
    mutable std::once_flag m_once;
    mutable std::optional<rt::Result<Functions>> m_loaded;
    mutable QByteArray m_reason;
};

} // namespace zq::platform
