#pragma once

#include "runtime/Result.h"
#include "support/ChildProcess.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zq::test {

// The virtual devices a PulseServer loads at start.
struct PulseDevices {
    bool speaker = true;             // null sink "zq_speaker"
    bool pipeMicrophone = true;      // "zq_pipe_mic": what PipeFeeder writes to micFifoPath()
    bool usbMicrophone = true;       // "zq_usb_mic": remap of the speaker's monitor, bus usb, headset
    bool bluetoothMicrophone = true; // "zq_bt_mic": remap of the monitor, bus bluetooth, api bluez
    bool builtInMicrophone = true;   // "zq_builtin_mic": remap of the monitor, internal, bus pci
    QString defaultSource;           // empty: the server's own choice
};

// A private PulseAudio daemon with its own HOME, runtime and state folders and one native socket
// in its folder; it never touches the user's sound server. It sets no environment variable:
// put serverAddress() in PULSE_SERVER (clientEnvironment() does so for child processes).
// Use from one thread; the destructor kills the daemon's process group.
class PulseServer {
public:
    static constexpr auto kSpeaker = "zq_speaker";
    static constexpr auto kPipeMicrophone = "zq_pipe_mic";
    static constexpr auto kUsbMicrophone = "zq_usb_mic";
    static constexpr auto kBluetoothMicrophone = "zq_bt_mic";
    static constexpr auto kBuiltInMicrophone = "zq_builtin_mic";

    PulseServer() = default;
    ~PulseServer();
    PulseServer(const PulseServer &) = delete;
    PulseServer &operator=(const PulseServer &) = delete;

    // Starts the daemon with `devices` and waits until clients can connect. Any module that fails
    // to load makes the start fail. Returns false with errorString() set.
    bool start(const PulseDevices &devices = {}, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void stop();
    bool isRunning() const { return m_process.isRunning(); }
    QString errorString() const { return m_error; }

    // "unix:/…/native", for PULSE_SERVER.
    QString serverAddress() const;
    // The FIFO of the pipe microphone (created by the daemon).
    QString micFifoPath() const;
    // This process's environment with PULSE_SERVER pointing here.
    QProcessEnvironment clientEnvironment() const;

    // Runs pactl against this server.
    ToolResult pactl(const QStringList &arguments) const;
    template <typename... Args>
    ToolResult pactl(const Args &...arguments) const
    {
        return pactl(QStringList{QString(arguments)...});
    }
    // Loads a module (e.g. "module-null-sink", {"sink_name=x"}); returns its index.
    rt::Result<uint32_t> loadModule(const QString &module, const QStringList &arguments = {}) const;
    rt::Result<void> unloadModule(uint32_t index) const;
    rt::Result<void> setDefaultSource(const QString &name) const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    ChildProcess m_process;
    QString m_error;
};

// Feeds the pipe microphone like a live one: a thread writes one 100 ms block (16 kHz, s16le,
// mono) every 100 ms of real time, a quiet noise floor unless speech was queued with speak().
// The daemon must have the FIFO open (it has while the pipe microphone is loaded).
// speak() and the accessors are thread-safe; the destructor stops the thread.
class PipeFeeder {
public:
    static constexpr int kSampleRateHz = 16000;
    static constexpr int kBlockSamples = kSampleRateHz / 10;
    static constexpr int16_t kDefaultNoiseAmplitude = 8;

    // Writes a block of `block` every `block` (0.1 s unless given; 10 ms delivers as steadily as a
    // live microphone's fragments).
    explicit PipeFeeder(QString fifoPath, int16_t noiseAmplitude = kDefaultNoiseAmplitude,
                        std::chrono::milliseconds block = std::chrono::milliseconds(100));
    ~PipeFeeder();
    PipeFeeder(const PipeFeeder &) = delete;
    PipeFeeder &operator=(const PipeFeeder &) = delete;

    // Opens the FIFO and starts the writer thread. Returns false with errorString() set.
    bool start();
    void stop();
    QString errorString() const;
    // False once stopped, or after a write failed (the pipe microphone was unloaded).
    bool isRunning() const;

    // Queues samples to be written in place of the noise floor, after anything still queued.
    void speak(std::vector<int16_t> samples);
    // Queued samples not yet written.
    size_t pendingSamples() const;
    // Waits until every queued sample was written. False on timeout or when the writer stopped.
    bool waitUntilSpoken(std::chrono::milliseconds timeout) const;
    uint64_t blocksWritten() const;

    // A sine tone at `frequencyHz`, for tests.
    static std::vector<int16_t> tone(double frequencyHz, std::chrono::milliseconds duration, int16_t amplitude);

private:
    void run();

    const QString m_fifoPath;
    const int16_t m_noiseAmplitude;
    const std::chrono::milliseconds m_block;
    int m_fd = -1;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<int16_t> m_pending;
    bool m_stopping = false;
    bool m_running = false;
    uint64_t m_blocksWritten = 0;
    QString m_error;
};

} // namespace zq::test
