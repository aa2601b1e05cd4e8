// The take: its file and stream written from the audio thread, its begin and end, its result, the
// microphone release after it, and the level meter fed by its buffers.

#include "audio/AudioBufferUtilities.h"
#include "audio/AudioCaptureError.h"
#include "audio/AudioEngine.h"
#include "pipeline/SettingsDefaults.h"
#include "platform/AudioConverter.h"
#include "platform/AudioFile.h"
#include "runtime/Log.h"
#include "runtime/Paths.h"
#include "runtime/Settings.h"

#include <QFile>
#include <QUuid>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace zq {

namespace {

constexpr rt::Nanos kLevelRise = rt::seconds(0.015);
constexpr rt::Nanos kLevelFall = rt::seconds(0.18);
constexpr rt::Nanos kLevelClockRestart = rt::seconds(0.25);

bool sameShape(const platform::AudioFormat &a, const platform::AudioFormat &b)
{
    return a.sampleRate == b.sampleRate && a.channelCount == b.channelCount;
}

platform::AudioFormat planarFloat(platform::AudioFormat format)
{
    format.commonFormat = platform::AudioFormat::CommonFormat::float32;
    format.interleaved = false;
    return format;
}

QString tapFormatDescription(const platform::AudioFormat &format)
{
    return QStringLiteral("%1 Hz, %2 ch").arg(format.sampleRate, 0, 'f', 0).arg(format.channelCount);
}

// The take's file: made, with its folder, by the first write that finds none (retried with every
// buffer until it can be), or ahead of the audio on the take-file queue. Buffers handed over with
// keep() before then wait in memory and go in first.
struct TakeFile {
    QString path;
    QString directory;
    platform::AudioFormat format;
    std::unique_ptr<platform::AudioFile> file;
    std::vector<platform::SharedPCMBuffer> waiting;
    bool folderChecked = false;

    bool exists() const { return file != nullptr; }

    bool make()
    {
        if (file)
            return true;
        if (!folderChecked) {
            folderChecked = true;
            if (auto made = rt::Paths::ensurePrivateDirectory(directory); !made)
                qCWarning(lcAudio).noquote() << QStringLiteral("take folder unavailable: %1").arg(made.error().message);
        }
        auto created = platform::AudioFile::createForWriting(path, format);
        if (!created)
            return false;
        file = std::move(created.value());
        for (const auto &buffer : std::exchange(waiting, {}))
            write(*buffer);
        return true;
    }
    void write(const platform::PCMBuffer &buffer)
    {
        if (make() && buffer.frameLength() > 0)
            (void)file->write(buffer);
    }
    void keep(platform::SharedPCMBuffer buffer)
    {
        if (file)
            write(*buffer);
        else
            waiting.push_back(std::move(buffer));
    }
    void close()
    {
        if (file)
            (void)file->close();
        file.reset();
        waiting.clear();
    }
};

} // namespace

// A streamed take's file whose close waits on the take-file queue. Whoever needs the whole file
// first closes it: the queue, or the main thread when the take is kept for an incident.
struct AudioEngine::ClosingTakeFile {
    std::mutex mutex;
    TakeFile file;

    void close()
    {
        std::lock_guard lock(mutex);
        file.close();
    }
};

// The take's file and live stream. The audio thread writes under `mutex`, and the main thread
// closes under it, so the file is never closed under a write in flight. Every buffer is stored in
// the take's one format: a session rebuilt at another rate mid-take is converted, not mixed in.
struct AudioEngine::TakeWriter {
    struct Outcome {
        bool accepted = false; // false once the take has ended
        bool fileExists = false;
        bool copyFailed = false;
    };

    TakeWriter(std::uint64_t serial, QString path, QString directory, platform::AudioFormat format,
               std::optional<rt::AsyncChannel<platform::SharedPCMBuffer>> stream)
        : serial(serial), path(path), format(planarFloat(format)),
          stream(std::move(stream)), file{std::move(path), std::move(directory), this->format, {}, {}, false}
    {}

    // Audio thread.
    Outcome write(const platform::PCMBuffer &buffer)
    {
        std::lock_guard lock(mutex);
        Outcome outcome;
        if (closed)
            return outcome;
        outcome.accepted = true;
        if (sameShape(buffer.format(), format)) {
            if (converter) {
                flushConverter();
                converter.reset();
            }
            file.write(buffer);
            if (stream) {
                auto copy = copyPCMBuffer(buffer);
                if (copy)
                    stream->send(std::move(copy));
                else
                    outcome.copyFailed = true;
            }
        } else {
            const auto source = planarFloat(buffer.format());
            if (!converter || !sameShape(converter->inputFormat(), source)) {
                flushConverter();
                converter.reset();
                auto made = platform::AudioConverter::create(source, format);
                if (made)
                    converter = std::move(made.value());
            }
            auto converted = converter ? converter->convert(buffer)
                                       : rt::Result<std::shared_ptr<platform::PCMBuffer>>(
                                             rt::Error{QStringLiteral("no converter"), {}, 0});
            if (converted)
                store(converted.value());
            else if (stream)
                outcome.copyFailed = true;
        }
        outcome.fileExists = file.exists();
        return outcome;
    }

    // Main thread, before the audio thread can reach the writer: a buffer that proved the take's
    // session. It is streamed at once; the file gets it once the file is made, so the take's start
    // does not wait for the disk.
    Outcome writeOpening(const platform::SharedPCMBuffer &buffer)
    {
        if (!sameShape(buffer->format(), format))
            return write(*buffer);
        std::lock_guard lock(mutex);
        Outcome outcome;
        if (closed)
            return outcome;
        outcome.accepted = true;
        file.keep(buffer);
        if (stream) {
            auto copy = copyPCMBuffer(*buffer);
            if (copy)
                stream->send(std::move(copy));
            else
                outcome.copyFailed = true;
        }
        outcome.fileExists = file.exists();
        return outcome;
    }

    bool fileExists()
    {
        std::lock_guard lock(mutex);
        return file.exists();
    }

    // Makes the file and writes what waits for it, unless the take has ended meanwhile.
    void prepareFile()
    {
        std::lock_guard lock(mutex);
        if (!closed)
            (void)file.make();
    }

    // Main thread: waits for a write in flight, then writes what the converter still holds, ends
    // the stream and closes the file: on `closer` when there is one and the take streams (nobody
    // reads its file right away), there and then otherwise. Returns the close left to `closer`.
    std::shared_ptr<ClosingTakeFile> close(rt::Executor *closer)
    {
        std::lock_guard lock(mutex);
        if (closed)
            return nullptr;
        closed = true;
        flushConverter();
        converter.reset();
        if (stream)
            stream->finish();
        // Opening buffers that still wait go in now: once this returns, the caller may read or
        // delete the file, and nothing may make it after that.
        if (!file.waiting.empty())
            (void)file.make();
        if (closer && stream) {
            auto closing = std::make_shared<ClosingTakeFile>();
            closing->file = std::move(file);
            closer->post([closing] { closing->close(); });
            return closing;
        }
        file.close();
        return nullptr;
    }

    const std::uint64_t serial;
    const QString path;
    const platform::AudioFormat format;

private:
    void store(const std::shared_ptr<platform::PCMBuffer> &converted)
    {
        if (!converted || converted->frameLength() == 0)
            return;
        file.write(*converted);
        if (stream)
            stream->send(converted);
    }
    void flushConverter()
    {
        if (!converter)
            return;
        auto rest = converter->flush();
        if (rest)
            store(rest.value());
    }

    std::mutex mutex;
    std::optional<rt::AsyncChannel<platform::SharedPCMBuffer>> stream;
    TakeFile file;
    std::unique_ptr<platform::AudioConverter> converter;
    bool closed = false;
};

void AudioEngine::handleTapBuffer(const std::shared_ptr<TapCells> &cells, std::uint64_t generation,
                                  const platform::SharedPCMBuffer &buffer)
{
    if (!buffer)
        return;
    {
        std::lock_guard lock(cells->generationLock);
        if (cells->activeGeneration != generation)
            return; // a replaced session
    }
    const rt::Nanos now = cells->clocks->continuousNow();
    std::function<void()> wake;
    {
        std::lock_guard lock(cells->lastTapLock);
        cells->lastTapFire = std::make_pair(generation, now);
        wake = std::exchange(cells->firstTapWake, nullptr);
    }
    if (wake)
        wake();
    std::shared_ptr<TakeWriter> writer;
    {
        std::lock_guard lock(cells->takeIOLock);
        writer = cells->takeIO;
        if (!writer && cells->held && cells->held->generation == generation) {
            HeldAudio &held = *cells->held;
            if (auto copy = copyPCMBuffer(*buffer)) {
                held.seconds += copy->duration();
                held.buffers.push_back(std::move(copy));
                held.lastArrival = now;
                while (held.seconds > kHeldAudioLimit && held.buffers.size() > 1) {
                    held.seconds -= held.buffers.front()->duration();
                    held.buffers.erase(held.buffers.begin());
                }
            }
        }
    }
    if (!writer)
        return;
    const auto outcome = writer->write(*buffer);
    if (!outcome.accepted)
        return;

    TapReport report = tapReportOf(*buffer);
    report.takeSerial = writer->serial;
    report.fileCreated = outcome.fileExists;
    {
        std::lock_guard lock(cells->firesLock);
        ++cells->fires;
        if (outcome.copyFailed)
            ++cells->copyFails;
        report.fires = cells->fires;
        report.first = cells->fires == 1;
    }
    cells->loop->post([alive = cells->alive, engine = cells->engine, report = std::move(report)] {
        if (alive.lock())
            engine->tapArrived(report);
    });
}

AudioEngine::TapReport AudioEngine::tapReportOf(const platform::PCMBuffer &buffer)
{
    TapReport report;
    report.format = buffer.format();
    const double rate = buffer.format().sampleRate;
    const int chunk = std::max(static_cast<int>(rate / 48.0), 1);
    report.levels = chunkRMS(buffer, chunk);
    if (rate > 0) {
        report.chunkDuration = chunk / rate;
        report.bufferDuration = buffer.frameLength() / rate;
    }
    return report;
}

std::vector<platform::SharedPCMBuffer> AudioEngine::capturedSinceAsked(HeldAudio held)
{
    double allowed = double((held.lastArrival - held.askedAt).count()) / 1e9;
    std::vector<platform::SharedPCMBuffer> kept;
    for (auto it = held.buffers.rbegin(); it != held.buffers.rend() && allowed > 0; ++it) {
        const platform::PCMBuffer &buffer = **it;
        const double rate = buffer.format().sampleRate;
        const auto frames = static_cast<std::int64_t>(buffer.frameLength());
        const auto fit = std::min<std::int64_t>(frames, rate > 0 ? std::llround(allowed * rate) : 0);
        if (fit <= 0)
            break;
        if (fit == frames) {
            kept.push_back(*it);
        } else {
            // Only the newest part of this one can be that recent.
            std::vector<const float *> tails;
            for (int c = 0; c < buffer.channelCount(); ++c)
                tails.push_back(buffer.channelData(c) + (frames - fit));
            if (auto tail = makePCMBuffer(tails.data(), int(tails.size()), fit, buffer.format()))
                kept.push_back(std::move(tail));
        }
        allowed -= double(fit) / rate;
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

void AudioEngine::dropHeldAudio()
{
    std::lock_guard lock(m_cells->takeIOLock);
    m_cells->held.reset();
}

void AudioEngine::reportTakeBuffers(const std::vector<platform::SharedPCMBuffer> &buffers, std::int64_t fires,
                                    std::optional<bool> fileCreated)
{
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        TapReport report = tapReportOf(*buffers[i]);
        report.takeSerial = m_takeSerial;
        report.fileCreated = fileCreated;
        report.fires = fires - std::int64_t(buffers.size() - 1 - i);
        report.first = i == 0;
        tapArrived(report);
    }
}

void AudioEngine::tapArrived(const TapReport &report)
{
    // A buffer of a take that has ended meanwhile proves nothing about the next one.
    if (report.takeSerial != m_takeSerial || m_takePhase.kind() != TakePhase::Kind::live)
        return;
    if (report.first) {
        const QString file = !report.fileCreated   ? QStringLiteral("being made")
                             : *report.fileCreated ? QStringLiteral("created")
                                                   : QStringLiteral("FAILED");
        qCInfo(lcAudio).noquote()
            << QStringLiteral("tap live: buffer format=%1, file=%2").arg(tapFormatDescription(report.format), file);
        transition(TakeLifecycleEvent::captureProved(), "startSession(prefUID:resolved:)");
        if (m_onTakeLive)
            m_onTakeLive();
    } else if (report.fires == 5 || report.fires % 25 == 0) {
        qCDebug(lcAudio).noquote() << QStringLiteral("tap fire #%1").arg(report.fires);
    }
    ingestLevels(report.levels, report.chunkDuration, report.bufferDuration);
}

void AudioEngine::ingestLevels(const std::vector<double> &levels, double chunkDuration, double bufferDuration)
{
    if (levels.empty())
        return;
    // The loop's clock, which the pill draws on: a step of the wall clock must not move the levels.
    const rt::Nanos now = m_loop.now();
    rt::Nanos t = (!m_lastChunkAt || *m_lastChunkAt < now - kLevelClockRestart) ? now : *m_lastChunkAt;
    double envelope = m_envelope;
    const auto count = levels.size();
    for (std::size_t i = 0; i < count; ++i) {
        const rt::Seconds duration{i + 1 < count ? chunkDuration
                                                 : bufferDuration - static_cast<double>(count - 1) * chunkDuration};
        if (duration > rt::Seconds(0))
            t += rt::seconds(duration.count());
        double target = 0;
        if (levels[i] > 0)
            target = std::clamp((20.0 * std::log10(levels[i]) + 55.0) / 43.0, 0.0, 1.0);
        if (duration > rt::Seconds(0)) {
            const rt::Nanos tau = envelope < target ? kLevelRise : kLevelFall;
            const double a = std::exp(-duration / tau);
            envelope = envelope * a + target * (1 - a);
        }
        m_history.append(t, envelope);
    }
    m_envelope = envelope;
    m_lastChunkAt = t;
}

void AudioEngine::beginTake(TakeMode mode)
{
    if (!m_core)
        throw AudioCaptureError(audioErrorDomain::app, 2, QStringLiteral("No live audio session"));
    {
        std::lock_guard lock(m_cells->firesLock);
        m_cells->fires = 0;
        m_cells->copyFails = 0;
    }
    resetMeter();
    m_recovery.recoveriesUsed = 0;
    m_recovery.recovering = false;
    m_takeInputLost = false;
    m_startedAt = m_clocks.continuousNow();

    const QString path = m_takeDirectory + QStringLiteral("/zepaquarn-") +
                         QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".wav");
    m_fileURL = path;

    // The stream and the file keep the format the take began with (the one the controller hands
    // the live transcriber), whatever a later rebuild binds to.
    auto format = coreFormat();
    if (!format)
        format = platform::AudioFormat{48000.0, 1};
    m_takeFormat = planarFloat(*format);

    std::optional<rt::AsyncChannel<platform::SharedPCMBuffer>> stream;
    if ((static_cast<int>(mode) & 1) == 0)
        stream = rt::AsyncChannel<platform::SharedPCMBuffer>();
    m_buffers = stream;

    const auto writer =
        std::make_shared<TakeWriter>(++m_takeSerial, path, m_takeDirectory, *m_takeFormat, std::move(stream));
    std::shared_ptr<TakeWriter> previous = writer;
    std::vector<platform::SharedPCMBuffer> opening;
    std::int64_t fires = 0;
    {
        // The buffers that proved this take's own session go first; the audio thread's next one
        // waits for the lock, so it follows them into the file and the stream.
        std::lock_guard lock(m_cells->takeIOLock);
        std::optional<HeldAudio> held = std::exchange(m_cells->held, std::nullopt);
        if (held && held->generation == activeGeneration())
            opening = capturedSinceAsked(std::move(*held));
        for (const auto &buffer : opening) {
            const auto outcome = writer->writeOpening(buffer);
            std::lock_guard firesLock(m_cells->firesLock);
            fires = ++m_cells->fires;
            if (outcome.copyFailed)
                ++m_cells->copyFails;
        }
        // The file is made now, ahead of the audio: on the take-file queue when there is one, so
        // that the take goes live without waiting for the disk.
        if (!m_takeFileCloser)
            writer->prepareFile();
        std::swap(m_cells->takeIO, previous);
    }
    m_openingFires = std::int64_t(opening.size());
    if (m_takeFileCloser)
        m_takeFileCloser->post([writer] { writer->prepareFile(); });
    closeTakeWriter(previous); // a take that was never ended must not leave its file open
    transition(TakeLifecycleEvent::takeBegan(), "beginTake(mode:)");
    if (!opening.empty()) {
        qCInfo(lcAudio).noquote() << QStringLiteral(
                                         "take begins with the %1 ms its session delivered since it was asked for")
                                         .arg(std::llround(1000 * std::accumulate(opening.begin(), opening.end(), 0.0,
                                                                                  [](double sum, const auto &b) {
                                                                                      return sum + b->duration();
                                                                                  })));
        reportTakeBuffers(opening, fires, m_takeFileCloser ? std::nullopt : std::optional(writer->fileExists()));
    }
}

std::uint64_t AudioEngine::activeGeneration() const
{
    std::lock_guard lock(m_cells->generationLock);
    return m_cells->activeGeneration;
}

void AudioEngine::closeTakeWriter(const std::shared_ptr<TakeWriter> &writer)
{
    if (!writer)
        return;
    std::erase_if(m_closingTakeFiles, [](const auto &entry) { return entry.second.expired(); });
    if (auto closing = writer->close(m_takeFileCloser))
        m_closingTakeFiles.emplace_back(writer->path, closing);
}

void AudioEngine::completeTakeFile(const QString &path)
{
    for (const auto &[closingPath, pending] : m_closingTakeFiles) {
        if (closingPath == path) {
            if (const auto closing = pending.lock())
                closing->close();
        }
    }
}

void AudioEngine::endTake()
{
    m_recoveryCheckTimer.cancel();
    m_recoveryCheckTimer = {};
    m_recovery.recovering = false;
    std::int64_t fires = 0;
    std::int64_t copyFails = 0;
    {
        std::lock_guard lock(m_cells->firesLock);
        fires = m_cells->fires;
        copyFails = m_cells->copyFails;
    }
    qCInfo(lcAudio).noquote() << QStringLiteral("take end: tap fired %1x, copy failed %2x").arg(fires).arg(copyFails);
    std::shared_ptr<TakeWriter> writer;
    {
        std::lock_guard lock(m_cells->takeIOLock);
        writer = std::exchange(m_cells->takeIO, nullptr);
    }
    transition(TakeLifecycleEvent::takeEnded(), "endTake()");
    closeTakeWriter(writer);
    m_buffers.reset();
    m_takeFormat.reset();
    m_envelope = 0.0;
    m_lastChunkAt.reset();
}

void AudioEngine::resetMeter()
{
    m_history = LevelHistory();
    m_envelope = 0.0;
    m_lastChunkAt.reset();
}

AudioEngine::TakeResult AudioEngine::takeResult()
{
    std::int64_t fires = 0;
    {
        std::lock_guard lock(m_cells->firesLock);
        fires = m_cells->fires;
    }
    endTake();
    applyMicReleasePolicy();
    if (!m_startedAt || !m_fileURL)
        return TakeResult::tooShort();

    // Measured on the continuous clock: a wall-clock change during the take cannot shorten it.
    const double duration = double((m_clocks.continuousNow() - *m_startedAt).count()) / 1e9;
    const QString path = *m_fileURL;
    m_startedAt.reset();
    m_fileURL.reset();
    if (duration < kTooShort) {
        deleteTakeFile(path);
        return TakeResult::tooShort();
    }
    // The opening buffers came before the take went live: a source that gave the buffer that
    // proved its session and nothing since has not been heard in this take.
    if (fires - m_openingFires >= 1)
        return TakeResult::captured(CapturedTake{path, duration, std::exchange(m_takeInputLost, false)});
    deleteTakeFile(path);
    return TakeResult::empty();
}

void AudioEngine::discardTake()
{
    endTake();
    applyMicReleasePolicy();
    if (m_fileURL)
        deleteTakeFile(*m_fileURL);
    m_fileURL.reset();
    m_startedAt.reset();
}

std::int64_t AudioEngine::tapFires() const
{
    std::lock_guard lock(m_cells->firesLock);
    return m_cells->fires;
}

void AudioEngine::deleteTakeFile(const QString &path)
{
    QFile::remove(path); // a file that cannot be deleted never fails the take
}

void AudioEngine::applyMicReleasePolicy()
{
    const bool releaseWhenIdle = m_settings.boolValue(keys::releaseMicWhenIdle);
    if (m_sessionTransport != InputTransport::bluetooth && m_sessionTransport != InputTransport::continuity) {
        qCInfo(lcAudio) << "take ended on a fast-starting device — releasing mic immediately";
        teardownSession();
    } else if (releaseWhenIdle) {
        scheduleGraceRelease(QStringLiteral("grace window"), kMicGrace);
    } else {
        m_graceTimer.cancel();
        m_graceTimer = {};
        qCInfo(lcAudio) << "take ended — holding the mic session for instant starts (release-when-idle is off)";
    }
}

} // namespace zq
