#pragma once

// The floor's decoder beside the application: a plain client of the same microphone on the same
// sound server (16 kHz mono, in the 10 ms fragments the application's stream asks for) that feeds the
// speech library's decoder live, with the application's search settings. From a press to a release
// it decodes each fragment as it arrives, as the application's recogniser does, and ends its words
// on the same pause: once the voice detector has heard speech and then its quarter-second tail, the
// utterance ends and the next words start one of their own. At the release it ends the utterance
// with what has arrived. Between takes it reads and drops.
// One thread reads the stream and another decodes, so a release is seen at once, not after the
// read in progress. The destructor stops and joins both.
#include "PlainDecoder.h"
#include "support/TextTargetWindow.h"

#include <QByteArray>
#include <QString>

#include <pulse/simple.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace zq::bench {

class LiveFloorDecoder {
public:
    struct Final {
        std::chrono::nanoseconds at{}; // when the final text was there, on CLOCK_MONOTONIC
        QString text;
    };

    // Connects to the sound server at `server` and reads its default source into `decoder`, which
    // keeps what it learnt from one launch to the next as the application's recogniser does.
    LiveFloorDecoder(const QString &server, PlainDecoder &decoder) : m_decoder(decoder)
    {
        if (!m_decoder.isLoaded())
            return;
        const pa_sample_spec spec{PA_SAMPLE_S16LE, 16000, 1};
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragment.count() * 1000, &spec));
        const QByteArray address = server.toUtf8();
        m_stream = pa_simple_new(address.constData(), "bench floor", PA_STREAM_RECORD, nullptr, "floor decoder", &spec,
                                 nullptr, &attributes, nullptr);
        if (!m_stream)
            return;
        m_reader = std::thread([this] { read(); });
        m_decoding = std::thread([this] { decode(); });
    }
    ~LiveFloorDecoder()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        if (m_decoding.joinable())
            m_decoding.join();
        if (m_reader.joinable())
            m_reader.join(); // its read returns within a fragment
        if (m_stream)
            pa_simple_free(m_stream);
    }
    LiveFloorDecoder(const LiveFloorDecoder &) = delete;
    LiveFloorDecoder &operator=(const LiveFloorDecoder &) = delete;

    bool isReading() const
    {
        std::lock_guard lock(m_mutex);
        return m_stream && !m_failed;
    }

    // The trigger went down: an utterance of what arrives from now on.
    void press()
    {
        std::lock_guard lock(m_mutex);
        m_arrived.clear();
        m_final.reset();
        m_command = Command::start;
        m_changed.notify_all();
    }

    // The trigger came up: ends the utterance with what has arrived. Nothing when the decoder did not
    // finish within `timeout`.
    std::optional<Final> release(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        m_command = Command::end;
        m_changed.notify_all();
        if (!m_changed.wait_for(lock, timeout, [this] { return m_final.has_value() || m_stopping; }))
            return std::nullopt;
        return std::exchange(m_final, std::nullopt);
    }

private:
    static constexpr std::chrono::milliseconds kFragment{10};
    enum class Command { none, start, end };

    void read()
    {
        std::vector<std::int16_t> fragment(16000 * kFragment.count() / 1000);
        for (;;) {
            const bool good =
                pa_simple_read(m_stream, fragment.data(), fragment.size() * sizeof(std::int16_t), nullptr) == 0;
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            if (!good) {
                m_failed = true;
                m_changed.notify_all();
                return;
            }
            if (m_inUtterance || m_command == Command::start) {
                m_arrived.push_back(fragment);
                m_changed.notify_all();
            }
        }
    }

    void decode()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_stopping || m_command != Command::none || !m_arrived.empty(); });
            if (m_stopping)
                return;
            if (m_command == Command::start) {
                m_command = Command::none;
                m_inUtterance = true;
                m_words.clear();
                m_heardSpeech = false;
                m_decoder.startUtterance();
            }
            // Everything that arrived before a release belongs to its take.
            std::deque<std::vector<std::int16_t>> pieces = std::exchange(m_arrived, {});
            const bool ending = m_command == Command::end;
            lock.unlock();
            if (m_inUtterance)
                for (const auto &piece : pieces) {
                    m_decoder.feed(piece.data(), piece.size());
                    const bool speech = m_decoder.inSpeech();
                    if (m_heardSpeech && !speech) {
                        m_words += m_decoder.endUtterance() + QLatin1Char(' ');
                        m_decoder.startUtterance();
                    }
                    m_heardSpeech = speech;
                }
            std::optional<Final> final;
            if (ending && m_inUtterance) {
                m_words += m_decoder.endUtterance();
                final = Final{test::TextTargetWindow::monotonicNow(), m_words.simplified()};
            }
            lock.lock();
            if (ending) {
                m_command = Command::none;
                m_inUtterance = false;
                m_final = std::move(final);
                m_changed.notify_all();
            }
        }
    }

    PlainDecoder &m_decoder; // the decoding thread's alone once it runs
    pa_simple *m_stream = nullptr;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<std::int16_t>> m_arrived;
    Command m_command = Command::none;
    bool m_inUtterance = false;
    bool m_stopping = false;
    bool m_failed = false;
    std::optional<Final> m_final;
    // The decoding thread's own.
    QString m_words;
    bool m_heardSpeech = false;
    std::thread m_reader;
    std::thread m_decoding;
};

} // namespace zq::bench
