#include "platform/linux/HttpClientOnFirstUse.h"

#include "platform/SharedLibrary.h"
#include "runtime/Log.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

#ifndef MFD_EXEC
#define MFD_EXEC 0x0010U
#endif

namespace zq::platform {

namespace {

struct ModuleEntry {
    HttpClient *(*make)() = nullptr;
    void bind(SharedLibrary &library) { library.bind(make, "zq_make_http_client"); }
};

HttpOutcome transportFailure(const QString &description)
{
    HttpOutcome outcome;
    outcome.kind = HttpOutcome::Kind::transportFailure;
    outcome.errorDescription = description;
    return outcome;
}

// The image as a file only this process sees, for the loader to open; -1 with `error` set when it
// cannot be made.
int memoryFile(QByteArrayView image, QString &error)
{
    // Kernels that can seal memory files against execution want it asked for; older ones know no such
    // flag.
    int fd = ::memfd_create("zepaquarn-http", MFD_CLOEXEC | MFD_EXEC);
    if (fd < 0 && errno == EINVAL)
        fd = ::memfd_create("zepaquarn-http", MFD_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("no memory file for it (%1)").arg(QString::fromLocal8Bit(strerror(errno)));
        return -1;
    }
    for (qsizetype written = 0; written < image.size();) {
        const ssize_t n = ::write(fd, image.data() + written, static_cast<size_t>(image.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error =
                QStringLiteral("it could not be written to memory (%1)").arg(QString::fromLocal8Bit(strerror(errno)));
            ::close(fd);
            return -1;
        }
        written += n;
    }
    return fd;
}

// Opens the module from a memory file or, where the system allows no executable memory, from a
// private file in the user's runtime folder that is removed once it is open.
rt::Result<ModuleEntry> openModule(QByteArrayView image)
{
    QString memoryError;
    if (const int fd = memoryFile(image, memoryError); fd >= 0) {
        // The file stays open (it is mapped for good anyway): the loader knows what it opened by name,
        // and would take another image opened later under a reused descriptor for this one.
        auto entry = loadFunctions<ModuleEntry>(QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(fd));
        if (entry)
            return entry;
        ::close(fd);
        memoryError = entry.error().message;
    }
    QTemporaryFile file(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
                        QStringLiteral("/zepaquarn-http-XXXXXX.so"));
    if (!file.open() || file.write(image.data(), image.size()) != image.size() || !file.flush())
        return rt::makeError(memoryError + QStringLiteral("; nor as a file (%1)").arg(file.errorString()));
    auto entry = loadFunctions<ModuleEntry>(QFile::encodeName(file.fileName()));
    if (!entry)
        return rt::makeError(memoryError + QStringLiteral("; nor as a file (%1)").arg(entry.error().message));
    return entry;
}

} // namespace

HttpClientOnFirstUse::HttpClientOnFirstUse(QByteArrayView moduleImage) : m_image(moduleImage)
{
    if (auto *application = QCoreApplication::instance()) {
        QObject::connect(application, &QCoreApplication::aboutToQuit, &m_context,
                         [quitting = m_quitting] { *quitting = true; });
    }
}

HttpClientOnFirstUse::~HttpClientOnFirstUse() = default;

const HttpClient *HttpClientOnFirstUse::client() const
{
    std::call_once(m_once, [this] {
        const auto entry = openModule(m_image);
        if (entry)
            m_client.reset(entry.value().make());
        if (m_client) {
            m_made = true;
            return;
        }
        m_failure = QStringLiteral("The HTTP client could not be loaded: ") +
                    (entry ? QStringLiteral("its module made none") : entry.error().message);
        qCWarning(lcRuntime).noquote() << "runtime:" << m_failure;
    });
    return m_client.get();
}

HttpOutcome HttpClientOnFirstUse::perform(const HttpRequest &request, std::stop_token stop) const
{
    if (*m_quitting && !m_made)
        return transportFailure(QStringLiteral("The application is quitting"));
    const HttpClient *real = client();
    if (!real)
        return transportFailure(m_failure);
    return real->perform(request, stop);
}

} // namespace zq::platform
