#pragma once

// Shared by the OpenAI engine's tests: takes on disk, a log recorder, and a driver that runs a
// transcription on virtual time while its HTTP and file work run on real worker threads.

#include "pipeline/TranscriptUpdate.h"
#include "pipeline/ZEPAError.h"
#include "platform/AudioFile.h"
#include "runtime/AsyncChannel.h"
#include "runtime/Task.h"
#include "support/VirtualLoop.h"

#include <QStringList>
#include <QtMath>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

namespace zq::test {

// Writes a float WAV take of a 440 Hz tone, as the audio engine writes its take files.
inline void writeTake(const QString &path, double seconds, double sampleRate = 48000, int channels = 2)
{
    const platform::AudioFormat format{sampleRate, channels, platform::AudioFormat::CommonFormat::float32, false};
    auto file = platform::AudioFile::createForWriting(path, format);
    ASSERT_TRUE(file) << file.error().message.toStdString();
    const auto total = static_cast<std::int64_t>(seconds * sampleRate);
    constexpr std::uint32_t block = 4800;
    platform::PCMBuffer buffer(format, block);
    for (std::int64_t done = 0; done < total; done += block) {
        const auto frames = static_cast<std::uint32_t>(std::min<std::int64_t>(block, total - done));
        for (int c = 0; c < channels; ++c) {
            for (std::uint32_t i = 0; i < frames; ++i)
                buffer.channelData(c)[i] = 0.25f * float(qSin(2 * M_PI * 440 * double(done + i) / sampleRate));
        }
        buffer.setFrameLength(frames);
        ASSERT_TRUE(file.value()->write(buffer));
    }
    ASSERT_TRUE(file.value()->close());
}

// Records the messages of the "openai" log category.
class OpenAILog {
public:
    OpenAILog()
    {
        {
            std::lock_guard lock(s_mutex);
            s_lines.clear();
        }
        m_previous = qInstallMessageHandler(&OpenAILog::handle);
    }
    ~OpenAILog() { qInstallMessageHandler(m_previous); }

    QStringList lines() const
    {
        std::lock_guard lock(s_mutex);
        return s_lines;
    }
    int count(const QString &prefix) const
    {
        int n = 0;
        for (const QString &line : lines())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (qstrcmp(context.category, "io.quorvane.zepaquarn.openai") != 0)
            return;
        std::lock_guard lock(s_mutex);
        s_lines.append(message);
    }

    static inline std::mutex s_mutex;
    static inline QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};

struct StreamOutcome {
    std::vector<TranscriptUpdate> updates;
    std::exception_ptr failure;
    bool ended = false;

    // The text of the ZEPAError the stream failed with, or a note when it failed otherwise.
    QString errorText() const
    {
        if (!failure)
            return QStringLiteral("<no failure>");
        try {
            std::rethrow_exception(failure);
        } catch (const ZEPAError &error) {
            return error.errorDescription();
        } catch (const rt::CancellationError &) {
            return QStringLiteral("<cancelled>");
        } catch (...) {
            return QStringLiteral("<other failure>");
        }
    }
};

inline rt::Task<void> consume(rt::AsyncChannel<TranscriptUpdate> channel, StreamOutcome *outcome)
{
    try {
        while (auto update = co_await channel.next())
            outcome->updates.push_back(*update);
    } catch (...) {
        outcome->failure = std::current_exception();
    }
    outcome->ended = true;
}

// Runs the loop until `done`: waits (in real time) while work is on worker threads, and moves
// virtual time in 10 ms steps only while the loop has nothing but future items, so a 1 s pause
// ends at exactly 1 s. Returns false when `realLimit` passes first.
inline bool drive(VirtualLoop &loop, const std::function<bool()> &done,
                  std::chrono::milliseconds realLimit = std::chrono::seconds(60))
{
    const auto deadline = std::chrono::steady_clock::now() + realLimit;
    for (;;) {
        loop.runUntilIdle();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        if (loop.pendingCount() > 0)
            loop.advance(std::chrono::milliseconds(10));
        else
            loop.runUntil([&] { return done() || loop.pendingCount() > 0; }, std::chrono::milliseconds(100));
    }
}

} // namespace zq::test
