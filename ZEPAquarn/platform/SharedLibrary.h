#pragma once

#include "runtime/Result.h"

#include <QByteArray>

#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace zq::platform {

// A library the executable does not link, opened when a feature first needs it, because loading it
// and everything it depends on at launch would delay the tray icon measurably. It is never closed:
// the functions found in it stay valid for the life of the process.
class SharedLibrary {
public:
    // Opens `soname` ("libsecret-1.so.0"); the error carries the loader's reason.
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

// Declares `Table`, a table of a library's functions, from a list macro that names each function once,
// `#define LIST(X) X(first) X(second)`: each pointer has the type the library's header declares and is
// found under its own name.
#define ZQ_LIBRARY_FUNCTIONS(Table, LIST)                                                                              \
    struct Table {                                                                                                     \
        LIST(ZQ_LIBRARY_FUNCTION_POINTER)                                                                              \
        void bind(::zq::platform::SharedLibrary &library) { LIST(ZQ_LIBRARY_FUNCTION_BIND) }                           \
    }
#define ZQ_LIBRARY_FUNCTION_POINTER(name) decltype(&::name) name = nullptr;
#define ZQ_LIBRARY_FUNCTION_BIND(name) library.bind(name, #name);

// Opens `soname` and fills `Functions` (as ZQ_LIBRARY_FUNCTIONS declares it) in one go: a library that
// cannot be opened, or lacks any one of the functions, yields no table, and the log says which.
rt::Result<void> openAndBind(const QByteArray &soname, const std::function<void(SharedLibrary &)> &bind);

// A table of a library's functions, filled on the first get() from any thread; the outcome, a failure
// included, is kept, so a missing library is looked for and logged once.
template <typename Functions>
class LibraryOnFirstUse {
public:
    explicit LibraryOnFirstUse(QByteArray soname) : m_soname(std::move(soname)) {}

    // The table, or null when the library or one of its functions could not be found.
    const Functions *get() const
    {
        std::call_once(m_once, [this] {
            Functions functions;
            if (openAndBind(m_soname, [&functions](SharedLibrary &library) { functions.bind(library); }))
                m_functions = functions;
        });
        return m_functions ? &*m_functions : nullptr;
    }

private:
    const QByteArray m_soname;
    mutable std::once_flag m_once;
    mutable std::optional<Functions> m_functions;
};

} // namespace zq::platform
