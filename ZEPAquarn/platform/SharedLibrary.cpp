#include "platform/SharedLibrary.h"

#include "runtime/Log.h"

#include <QString>

#include <dlfcn.h>

namespace zq::platform {

namespace {

const QString kLibraryDomain = QStringLiteral("io.quorvane.zepaquarn.shared-library");

QString loaderReason()
{
    const char *reason = ::dlerror();
    return reason ? QString::fromLocal8Bit(reason) : QStringLiteral("unknown reason");
}

} // namespace

rt::Result<SharedLibrary> SharedLibrary::open(const QByteArray &soname)
{
    // Bound now, so that a library that cannot work fails here rather than at its first call.
    void *handle = ::dlopen(soname.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return rt::makeError(QStringLiteral("The library “%1” could not be loaded (%2)")
                                 .arg(QString::fromLocal8Bit(soname), loaderReason()),
                             kLibraryDomain, 1);
    return SharedLibrary(soname, handle);
}

void *SharedLibrary::find(const char *name)
{
    ::dlerror();
    void *address = ::dlsym(m_handle, name);
    if (!address && !m_missing)
        m_missing = rt::makeError(QStringLiteral("The library “%1” has no function %2 (%3)")
                                      .arg(QString::fromLocal8Bit(m_soname), QString::fromLatin1(name), loaderReason()),
                                  kLibraryDomain, 2);
    return address;
}

rt::Result<void> SharedLibrary::status() const
{
    if (m_missing)
        return *m_missing;
    return {};
}

rt::Result<void> openAndBind(const QByteArray &soname, const std::function<void(SharedLibrary &)> &bind)
{
    const rt::Result<void> bound = [&]() -> rt::Result<void> {
        auto library = SharedLibrary::open(soname);
        if (!library)
            return library.error();
        bind(library.value());
        return library.value().status();
    }();
    if (!bound)
        qCWarning(lcRuntime).noquote() << "runtime:" << bound.error().message;
    return bound;
}

} // namespace zq::platform
