#pragma once

// The speech library's decoder used directly with the Debian model: the floor our own recogniser is
// compared with. Stock search settings unless `extra` changes them.
#include "platform/linux/speech/PocketSphinxDecoder.h"

#include <QFile>
#include <QString>

#include <pocketsphinx.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace zq::bench {

// The search settings the application's recogniser uses: an equal-terms floor passes these.
inline std::vector<const char *> applicationSearch()
{
    return {"-fwdflat", "no", "-bestpath", "no", "-vad_postspeech", "25"};
}

class PlainDecoder {
public:
    explicit PlainDecoder(std::vector<const char *> extra = {})
    {
        const auto model = platform::PocketSphinxModel::debianEnglish();
        const QByteArray hmm = QFile::encodeName(model.acousticModel);
        const QByteArray lm = QFile::encodeName(model.languageModel);
        const QByteArray dict = QFile::encodeName(model.dictionary);
        std::vector<const char *> args = {"-hmm",  hmm.constData(),  "-lm",    lm.constData(),
                                          "-dict", dict.constData(), "-logfn", "/dev/null"};
        args.insert(args.end(), extra.begin(), extra.end());
        cmd_ln_t *config =
            cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(args.size()), const_cast<char **>(args.data()), TRUE);
        m_decoder = config ? ps_init(config) : nullptr;
        cmd_ln_free_r(config);
    }
    ~PlainDecoder()
    {
        if (m_decoder)
            ps_free(m_decoder);
    }
    PlainDecoder(const PlainDecoder &) = delete;
    PlainDecoder &operator=(const PlainDecoder &) = delete;

    bool isLoaded() const { return m_decoder != nullptr; }

    enum class Input { live, wholeUtterance };
    // Live: 0.1 s blocks, the channel estimate carried on from the previous utterance and moved
    // only by the library's own rule. Whole utterance: one block, normalised by its own mean.
    QString decode(const std::vector<std::int16_t> &pcm, Input input)
    {
        ps_start_utt(m_decoder);
        if (input == Input::wholeUtterance)
            ps_process_raw(m_decoder, pcm.data(), pcm.size(), FALSE, TRUE);
        else
            for (std::size_t offset = 0; offset < pcm.size(); offset += kBlock)
                ps_process_raw(m_decoder, pcm.data() + offset, std::min(kBlock, pcm.size() - offset), FALSE, FALSE);
        return endUtterance();
    }

    // Live at the pace of speech (a 0.1 s block every 0.1 s, as a microphone delivers): the
    // seconds from the end of the input to the final text.
    double endOfInputToFinal(const std::vector<std::int16_t> &pcm, QString *text = nullptr)
    {
        const auto lastBlock = feedAtPace(pcm, std::chrono::milliseconds(100));
        std::this_thread::sleep_until(lastBlock + std::chrono::milliseconds(100));
        return secondsToFinal(Clock::now(), text);
    }

    // An utterance fed piece by piece, as the audio arrives.
    void startUtterance() { ps_start_utt(m_decoder); }
    void feed(const std::int16_t *samples, std::size_t count)
    {
        ps_process_raw(m_decoder, samples, count, FALSE, FALSE);
    }
    // Whether the voice detector hears speech in what was fed last.
    bool inSpeech() const { return ps_get_in_speech(m_decoder) != 0; }
    // Ends the utterance: its final text.
    QString endUtterance()
    {
        ps_end_utt(m_decoder);
        int32 score = 0;
        const char *text = ps_get_hyp(m_decoder, &score);
        return text ? QString::fromUtf8(text) : QString();
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kBlock = 1600;

    // Starts an utterance and feeds `pcm` a block every `block`; when the last block was due.
    Clock::time_point feedAtPace(const std::vector<std::int16_t> &pcm, std::chrono::milliseconds block)
    {
        const auto samples = static_cast<std::size_t>(block.count()) * kBlock / 100;
        ps_start_utt(m_decoder);
        auto due = Clock::now();
        auto last = due;
        for (std::size_t offset = 0; offset < pcm.size(); offset += samples) {
            std::this_thread::sleep_until(due);
            last = due;
            ps_process_raw(m_decoder, pcm.data() + offset, std::min(samples, pcm.size() - offset), FALSE, FALSE);
            due += block;
        }
        return last;
    }

    double secondsToFinal(Clock::time_point from, QString *text)
    {
        const QString hypothesis = endUtterance();
        const double seconds = std::chrono::duration<double>(Clock::now() - from).count();
        if (text)
            *text = hypothesis;
        return seconds;
    }

    ps_decoder_t *m_decoder = nullptr;
};

} // namespace zq::bench
