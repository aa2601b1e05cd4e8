#include "platform/linux/HttpClientOnFirstUse.h"

#include "platform/linux/HttpCalls.h"

#include "platform/SharedLibrary.h"
#include "runtime/Log.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <chrono>
#include <condition_variable>
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

HttpClientOnFirstUse::HttpClientOnFirstUse(QByteArrayView moduleImage)
    : HttpClientOnFirstUse([moduleImage]() -> rt::Result<std::unique_ptr<HttpClient>> {
          auto entry = openModule(moduleImage);
          if (!entry)
              return entry.error();
          std::unique_ptr<HttpClient> made(entry.value().make());
          if (!made)
              return rt::makeError(QStringLiteral("its module made none"));
          return made;
      })
{}

HttpClientOnFirstUse::HttpClientOnFirstUse(Make make) : m_make(std::move(make)), m_calls(std::make_shared<HttpCalls>())
{
    if (auto *application = QCoreApplication::instance()) {
        QObject::connect(application, &QCoreApplication::aboutToQuit, &m_context,
                         [calls = m_calls] { calls->stopAll(); });
    }
}

HttpClientOnFirstUse::~HttpClientOnFirstUse() = default;

const HttpClient *HttpClientOnFirstUse::client() const
{
    std::call_once(m_once, [this] {
        auto made = m_make();
        if (made) {
            m_client = std::move(made).value();
            return;
        }
        m_failure = QStringLiteral("The HTTP client could not be loaded: ") + made.error().message;
        qCWarning(lcRuntime).noquote() << "runtime:" << m_failure;
    });
    return m_client.get();
}

HttpOutcome HttpClientOnFirstUse::perform(const HttpRequest &request, std::stop_token stop) const
{
    const std::shared_ptr<HttpCalls> calls = m_calls;
    if (!calls->begin())
        return transportFailure(QStringLiteral("The application is quitting"));
    // Counted from before the client is made: a quit that comes while the module opens waits for it.
    const HttpCalls::Running running{*calls};
    const HttpClient *real = client();
    if (!real)
        return transportFailure(m_failure);
    if (calls->quitting.stop_requested())
        return transportFailure(QStringLiteral("The application is quitting"));
    // The caller's stop or the quit ends the exchange.
    std::stop_source either;
    const std::stop_callback byCaller(stop, [&either] { either.request_stop(); });
    const std::stop_callback byQuit(calls->quitting.get_token(), [&either] { either.request_stop(); });
    return real->perform(request, either.get_token());
}

} // namespace zq::platform
