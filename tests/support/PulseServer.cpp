#include "support/PulseServer.h"

#include "support/ServiceEnvironment.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <numbers>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zq::test {

namespace {

bool canConnect(const QString &socketPath)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

QString remapSource(const char *name, const QString &properties)
{
    return QStringLiteral("load-module module-remap-source source_name=%1 master=%2.monitor source_properties=\"%3\"\n")
        .arg(QLatin1String(name), QLatin1String(PulseServer::kSpeaker), properties);
}

} // namespace

PulseServer::~PulseServer()
{
    stop();
}

bool PulseServer::start(const PulseDevices &devices, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    m_dir = makeServiceDir(QStringLiteral("zq-pulse"));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("PulseAudio: cannot create a temporary folder: %1").arg(m_dir->errorString());
        return false;
    }
    const QString home = m_dir->filePath(QStringLiteral("home"));
    const QString runtime = m_dir->filePath(QStringLiteral("runtime"));
    const QString state = m_dir->filePath(QStringLiteral("state"));
    for (const QString &folder : {home, runtime, state}) {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // `.fail` makes any module that does not load fatal. The socket comes last, so a client that
    // can connect sees every device.
    QString script = QStringLiteral(".fail\n");
    const bool remaps = devices.usbMicrophone || devices.bluetoothMicrophone || devices.builtInMicrophone;
    if (devices.speaker || remaps) {
        script += QStringLiteral("load-module module-null-sink sink_name=%1 "
                                 "sink_properties=\"device.description='ZQ Speaker'\"\n")
                      .arg(QLatin1String(kSpeaker));
        script += QStringLiteral("set-default-sink %1\n").arg(QLatin1String(kSpeaker));
    }
    if (devices.pipeMicrophone) {
        script += QStringLiteral("load-module module-pipe-source source_name=%1 file=%2 format=s16le rate=16000 "
                                 "channels=1 source_properties=\"device.description='ZQ Pipe Microphone'\"\n")
                      .arg(QLatin1String(kPipeMicrophone), micFifoPath());
    }
    if (devices.usbMicrophone)
        script += remapSource(kUsbMicrophone, QStringLiteral("device.description='USB Headset Mic' device.bus=usb "
                                                             "device.form_factor=headset"));
    if (devices.bluetoothMicrophone)
        script += remapSource(kBluetoothMicrophone, QStringLiteral("device.description='Bluetooth Headset Mic' "
                                                                   "device.bus=bluetooth device.api=bluez "
                                                                   "device.form_factor=headset"));
    if (devices.builtInMicrophone)
        script += remapSource(kBuiltInMicrophone, QStringLiteral("device.description='Built-in Microphone' "
                                                                 "device.form_factor=internal device.bus=pci"));
    const QString socketPath = m_dir->filePath(QStringLiteral("native"));
    script += QStringLiteral("load-module module-native-protocol-unix socket=%1 auth-anonymous=1\n").arg(socketPath);

    const QString scriptPath = m_dir->filePath(QStringLiteral("server.pa"));
    QFile scriptFile(scriptPath);
    if (!scriptFile.open(QIODevice::WriteOnly) || scriptFile.write(script.toLocal8Bit()) < 0) {
        m_error = QStringLiteral("PulseAudio: cannot write %1").arg(scriptPath);
        return false;
    }
    scriptFile.close();

    ChildSpec spec;
    spec.program = QStringLiteral("pulseaudio");
    spec.arguments = {QStringLiteral("-n"),
                      QStringLiteral("-F"),
                      scriptPath,
                      QStringLiteral("--daemonize=no"),
                      QStringLiteral("--exit-idle-time=-1"),
                      QStringLiteral("--use-pid-file=no"),
                      QStringLiteral("--realtime=no"),
                      QStringLiteral("--high-priority=no"),
                      QStringLiteral("--log-target=stderr")};
    spec.environment.insert(QStringLiteral("HOME"), home);
    spec.environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    spec.environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    spec.environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), runtime + QStringLiteral("/pulse"));
    spec.environment.insert(QStringLiteral("PULSE_STATE_PATH"), state);
    spec.environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    for (const char *name : {"DISPLAY", "PULSE_SERVER", "PULSE_SINK", "PULSE_SOURCE", "PULSE_COOKIE"})
        spec.environment.remove(QLatin1String(name));
    spec.logPath = m_dir->filePath(QStringLiteral("pulseaudio.log"));
    if (!m_process.start(spec)) {
        m_error = QStringLiteral("PulseAudio: %1").arg(m_process.errorString());
        return false;
    }
    while (!canConnect(socketPath)) {
        if (!m_process.isRunning() || deadline.hasExpired()) {
            m_error =
                QStringLiteral("PulseAudio %1 within %2 ms; log:\n%3")
                    .arg(m_process.isRunning() ? QStringLiteral("did not open its socket") : QStringLiteral("exited"))
                    .arg(timeout.count())
                    .arg(m_process.logTail());
            m_process.stop();
            return false;
        }
        usleep(10 * 1000);
    }
    // Through pactl rather than the script: the script accepts a name that does not exist.
    if (!devices.defaultSource.isEmpty()) {
        if (const rt::Result<void> set = setDefaultSource(devices.defaultSource); !set) {
            m_error = QStringLiteral("PulseAudio: ") + set.error().message;
            m_process.stop();
            return false;
        }
    }
    return true;
}

void PulseServer::stop()
{
    m_process.stop();
}

QString PulseServer::serverAddress() const
{
    return m_dir ? QStringLiteral("unix:") + m_dir->filePath(QStringLiteral("native")) : QString();
}

QString PulseServer::micFifoPath() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("mic.fifo")) : QString();
}

QProcessEnvironment PulseServer::clientEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_SERVER"), serverAddress());
    environment.remove(QStringLiteral("PULSE_SINK"));
    environment.remove(QStringLiteral("PULSE_SOURCE"));
    return environment;
}

ToolResult PulseServer::pactl(const QStringList &arguments) const
{
    return runTool(QStringLiteral("pactl"), arguments, clientEnvironment());
}

rt::Result<uint32_t> PulseServer::loadModule(const QString &module, const QStringList &arguments) const
{
    const ToolResult result = pactl(QStringList{QStringLiteral("load-module"), module} + arguments);
    bool numeric = false;
    const uint index = result.standardOutput.trimmed().toUInt(&numeric);
    if (!result.succeeded() || !numeric)
        return rt::makeError(QStringLiteral("pactl load-module %1 failed: %2").arg(module, result.describe()));
    return uint32_t(index);
}

rt::Result<void> PulseServer::unloadModule(uint32_t index) const
{
    const ToolResult result = pactl(QStringLiteral("unload-module"), QString::number(index));
    if (!result.succeeded())
        return rt::makeError(QStringLiteral("pactl unload-module %1 failed: %2").arg(index).arg(result.describe()));
    return {};
}

rt::Result<void> PulseServer::setDefaultSource(const QString &name) const
{
    const ToolResult result = pactl(QStringLiteral("set-default-source"), name);
    if (!result.succeeded())
        return rt::makeError(QStringLiteral("pactl set-default-source %1 failed: %2").arg(name, result.describe()));
    return {};
}

PipeFeeder::PipeFeeder(QString fifoPath, int16_t noiseAmplitude, std::chrono::milliseconds block)
    : m_fifoPath(std::move(fifoPath)), m_noiseAmplitude(noiseAmplitude), m_block(block)
{}

PipeFeeder::~PipeFeeder()
{
    stop();
}

bool PipeFeeder::start()
{
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable()) {
        m_error = QStringLiteral("the feeder was already started");
        return false;
    }
    // Non-blocking: with no reader this fails at once (ENXIO) instead of hanging.
    m_fd = open(QFile::encodeName(m_fifoPath).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        m_error = QStringLiteral("cannot open the microphone FIFO %1: %2").arg(m_fifoPath, qt_error_string(errno));
        return false;
    }
    m_stopping = false;
    m_running = true;
    m_thread = std::thread([this] { run(); });
    return true;
}

void PipeFeeder::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

QString PipeFeeder::errorString() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

bool PipeFeeder::isRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

void PipeFeeder::speak(std::vector<int16_t> samples)
{
    std::lock_guard lock(m_mutex);
    m_pending.insert(m_pending.end(), samples.begin(), samples.end());
}

size_t PipeFeeder::pendingSamples() const
{
    std::lock_guard lock(m_mutex);
    return m_pending.size();
}

bool PipeFeeder::waitUntilSpoken(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_pending.empty() || !m_running; }) && m_pending.empty();
}

uint64_t PipeFeeder::blocksWritten() const
{
    std::lock_guard lock(m_mutex);
    return m_blocksWritten;
}

std::vector<int16_t> PipeFeeder::tone(double frequencyHz, std::chrono::milliseconds duration, int16_t amplitude)
{
    std::vector<int16_t> samples(size_t(duration.count()) * kSampleRateHz / 1000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            int16_t(std::lround(amplitude * std::sin(2 * std::numbers::pi * frequencyHz * double(i) / kSampleRateHz)));
    return samples;
}

void PipeFeeder::run()
{
    // A write to a FIFO whose reader is gone must fail with EPIPE, not kill the test.
    sigset_t pipeSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, nullptr);

    using Clock = std::chrono::steady_clock;
    const auto blockDuration = m_block;
    uint32_t noiseState = 0x2545f491u;
    std::vector<int16_t> block(
        static_cast<std::size_t>(std::max<std::int64_t>(1, kSampleRateHz * m_block.count() / 1000)));
    auto next = Clock::now();
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        size_t spoken = 0;
        for (; spoken < block.size() && !m_pending.empty(); ++spoken) {
            block[spoken] = m_pending.front();
            m_pending.pop_front();
        }
        lock.unlock();
        for (size_t i = spoken; i < block.size(); ++i) {
            noiseState = noiseState * 1664525u + 1013904223u;
            block[i] = int16_t(int((noiseState >> 16) % uint32_t(2 * m_noiseAmplitude + 1)) - m_noiseAmplitude);
        }
        const auto *bytes = reinterpret_cast<const char *>(block.data());
        size_t remaining = block.size() * sizeof(int16_t);
        QString failure;
        while (remaining > 0) {
            const ssize_t n = write(m_fd, bytes, remaining);
            if (n > 0) {
                bytes += n;
                remaining -= size_t(n);
            } else if (n < 0 && errno == EAGAIN) {
                // The daemon is not reading: wait a little, then drop the rest like a live device.
                pollfd pfd{m_fd, POLLOUT, 0};
                if (poll(&pfd, 1, 100) <= 0)
                    break;
            } else if (n < 0 && errno != EINTR) {
                failure = QStringLiteral("writing the microphone FIFO failed: %1").arg(qt_error_string(errno));
                break;
            }
        }
        lock.lock();
        if (!failure.isEmpty()) {
            m_error = failure;
            break;
        }
        ++m_blocksWritten;
        m_changed.notify_all();
        next += blockDuration;
        // After a long stall, resume from now instead of bursting the backlog.
        if (Clock::now() - next > std::chrono::seconds(1))
            next = Clock::now();
        m_changed.wait_until(lock, next, [this] { return m_stopping; });
    }
    m_running = false;
    m_changed.notify_all();
}

} // namespace zq::test
