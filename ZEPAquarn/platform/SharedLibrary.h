#pragma once

#include "runtime/Result.h"

#include <QByteArray>

#include <concepts>
#include <mutex>
#include <optional>
#include <type_traits>
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

// Says in the log that a library opened on first use could not be.
void logLoadFailure(const rt::Error &error);

// Opens `soname` and binds a table of its functions: `Functions` holds a pointer per function and
// binds them all in `void bind(SharedLibrary &)`. The error names what could not be opened or found.
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

// Declares `Table`, a table of a library's functions as loadFunctions() takes it, from a list macro
// that names each function once, `#define LIST(X) X(first) X(second)`: each pointer has the type the
// library's header declares and is bound under its own name.
#define ZQ_LIBRARY_FUNCTIONS(Table, LIST)                                                                              \
    struct Table {                                                                                                     \
        LIST(ZQ_LIBRARY_FUNCTION_POINTER)                                                                              \
        void bind(::zq::platform::SharedLibrary &library) { LIST(ZQ_LIBRARY_FUNCTION_BIND) }                           \
    }
#define ZQ_LIBRARY_FUNCTION_POINTER(name) decltype(&::name) name = nullptr;
#define ZQ_LIBRARY_FUNCTION_BIND(name) library.bind(name, #name);

// The table as ZQ_LIBRARY_FUNCTIONS declares it, `Library` for it opened on first use, and `library()`,
// the one instance of it in this file, opening `soname` on the first call of any of its functions. The
// instance is never destroyed: threads left running at exit (the speech model's load) still call through
// it while the process's static objects are torn down.
#define ZQ_LIBRARY_ON_FIRST_USE(Table, LIST, soname)                                                                   \
    ZQ_LIBRARY_FUNCTIONS(Table, LIST);                                                                                 \
    using Library = ::zq::platform::LibraryOnFirstUse<Table>;                                                          \
    const Library &library()                                                                                           \
    {                                                                                                                  \
        static const Library *const opened = new Library(QByteArrayLiteral(soname));                                   \
        return *opened;                                                                                                \
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

    // A failure answer that is failureReason(), read only once the load has failed: read earlier, it
    // would point at the empty reason the load then replaces.
    struct Reason {};

    // Calls the table's function `Member` with `arguments`, or answers `failure` when the library
    // could not be loaded: what the library itself answers for a failed call.
    template <auto Member, typename Failure, typename... Arguments>
    auto forwardOr(Failure failure, Arguments... arguments) const
    {
        using Answer = decltype((std::declval<const Functions &>().*Member)(arguments...));
        if (const Functions *table = functions())
            return (table->*Member)(arguments...);
        if constexpr (std::is_same_v<Failure, Reason>) {
            static_assert(std::is_same_v<Answer, const char *>);
            return failureReason();
        } else {
            static_assert(std::convertible_to<Failure, Answer>);
            return static_cast<Answer>(failure);
        }
    }
    // As forwardOr() for a function that answers nothing: without the library the call does nothing.
    template <auto Member, typename... Arguments>
    void forward(Arguments... arguments) const
    {
        if (const Functions *table = functions())
            (table->*Member)(arguments...);
    }

private:
    const QByteArray m_soname;
    mutable std::once_flag m_once;
    mutable std::optional<rt::Result<Functions>> m_loaded;
    mutable QByteArray m_reason;
};

} // namespace zq::platform
