#pragma once

#include "runtime/Result.h"

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

struct ps_decoder_s;

namespace zq::platform {

// Where Debian's packaged English model lives (pocketsphinx-en-us).
struct PocketSphinxModel {
    QString acousticModel;
    QString languageModel;
    QString dictionary;

    static PocketSphinxModel debianEnglish();
    bool isInstalled() const;
};

// One loaded decoder: about 100 MB of model, 0.2–0.5 s to load. Used by one thread at a time.
// Its cepstral normalisation learns the microphone from every utterance it decodes, so a decoder
// that has decoded something (`isWarm`) recognises the next utterance better than a fresh one.
class PocketSphinxDecoder {
public:
    static rt::Result<std::unique_ptr<PocketSphinxDecoder>> load(const PocketSphinxModel &model);
    ~PocketSphinxDecoder();
    PocketSphinxDecoder(const PocketSphinxDecoder &) = delete;
    PocketSphinxDecoder &operator=(const PocketSphinxDecoder &) = delete;

    bool startUtterance();
    // 16 kHz mono samples. False when the decoder reports an error.
    bool process(const std::int16_t *samples, std::size_t count);
    // The best hypothesis of the current (or just ended) utterance; empty when there is none.
    QString hypothesis();
    bool endUtterance();
    bool isInUtterance() const { return m_inUtterance; }

    bool isWarm() const { return m_warm; }
    void setWarm() { m_warm = true; }

private:
    explicit PocketSphinxDecoder(ps_decoder_s *decoder) : m_decoder(decoder) {}

    ps_decoder_s *m_decoder;
    bool m_inUtterance = false;
    bool m_warm = false;
};

// The decoders of the process. One is loaded in the background ahead of the first take and then
// reused take after take; a take that starts while another holds it loads one more (which is
// dropped again when two are idle). Thread-safe.
class PocketSphinxDecoderPool {
public:
    explicit PocketSphinxDecoderPool(PocketSphinxModel model);
    ~PocketSphinxDecoderPool();
    PocketSphinxDecoderPool(const PocketSphinxDecoderPool &) = delete;
    PocketSphinxDecoderPool &operator=(const PocketSphinxDecoderPool &) = delete;

    const PocketSphinxModel &model() const { return m_model; }

    // Starts loading a decoder on a background thread unless one is idle or loading already.
    void preload();
    // Blocks until a decoder is free; fails when loading fails or `stop` is requested first.
    rt::Result<std::unique_ptr<PocketSphinxDecoder>> acquire(std::stop_token stop);
    void release(std::unique_ptr<PocketSphinxDecoder> decoder);

    // For tests and benchmarks: how many decoders were loaded so far.
    int loadCount() const;

private:
    PocketSphinxModel m_model;
    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::vector<std::unique_ptr<PocketSphinxDecoder>> m_idle;
    bool m_loading = false;
    int m_loadCount = 0;
    std::thread m_loader;
};

} // namespace zq::platform
