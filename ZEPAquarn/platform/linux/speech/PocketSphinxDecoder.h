#pragma once

#include "platform/linux/speech/PocketSphinxDictionaryCut.h"
#include "platform/linux/speech/PocketSphinxVocabulary.h"
#include "runtime/Result.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_set>
#include <vector>

struct ps_decoder_s;
struct ngram_model_s;
struct logmath_s;
struct cmd_ln_s;

namespace zq::platform {

// Where Debian's packaged English model lives (pocketsphinx-en-us).
struct PocketSphinxModel {
    QString acousticModel;
    QString languageModel;
    QString dictionary;

    static PocketSphinxModel debianEnglish();
    bool isInstalled() const;
    // Names the acoustic model by its contents (front-end parameters and means), so a saved channel
    // estimate is not applied to another model. Empty when the files cannot be read.
    QString fingerprint() const;
};

// One loaded decoder: about 100 MB of model, 0.2–0.5 s to load. Used by one thread at a time.
//
// Its cepstral mean normalisation learns the microphone and voice from what it hears: the channel
// estimate. It refines it with every block, so a take that opens on a pause or a quiet microphone
// adapts within the take instead of only after it, and carries it on from utterance to utterance.
// A new decoder's stock estimate counts as two seconds of audio, one set learnt earlier as five.
class PocketSphinxDecoder {
public:
    // Called on the thread that reads the language model as soon as it is read, with its words, while
    // the decoder still loads.
    using LanguageModelRead = std::function<void(std::unordered_set<std::string> words)>;

    // With a `cut`, the decoder reads the cut dictionary instead of the model's own and looks up the
    // words the cut left out when a vocabulary asks for them.
    static rt::Result<std::unique_ptr<PocketSphinxDecoder>>
    load(const PocketSphinxModel &model, std::shared_ptr<const PocketSphinxDictionaryCut> cut = nullptr,
         const LanguageModelRead &languageModelRead = {});
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
    // Whether the current utterance heard speech and the decoder has since heard a pause (its voice
    // detector's tail, a quarter second): what the utterance will say is complete.
    bool hasPausedAfterSpeech() const { return m_heardSpeech && !m_inSpeech; }

    // The current estimate (the mean cepstrum), and setting one learnt earlier in place of all the
    // decoder has heard. Setting fails when the length is not channelEstimateLength().
    std::vector<float> channelEstimate() const;
    bool setChannelEstimate(const std::vector<float> &estimate);
    std::size_t channelEstimateLength() const;
    // The pronunciations the decoder's dictionary holds for `word` as spelt, alternates included
    // (with a cut, those the cut left out too).
    QStringList pronunciations(const QString &word) const;
    // The words of the packaged language model: those the search can produce without a vocabulary.
    std::unordered_set<std::string> languageModelWords() const;
    // The words the coming utterances should expect: new words join the pronunciation dictionary,
    // and all of them get a share of the language model's probability, until the next call. An
    // empty vocabulary restores the packaged model alone. Words of an earlier vocabulary stay in
    // the pronunciation dictionary but leave the language model, so they are never recognised
    // again. Changing the vocabulary rebuilds the search (a fraction of a second); setting the same
    // one again costs nothing. False, with the packaged model in force, when it cannot be applied.
    bool useVocabulary(const PocketSphinxVocabulary &vocabulary);
    QStringList vocabulary() const { return m_vocabulary; }

    // Whether any audio was decoded since the decoder was made or last handed out.
    bool hasHeardAudio() const { return m_heardAudio; }
    void clearHeardAudio() { m_heardAudio = false; }
    // Whether it reads a dictionary cut rather than the model's whole one.
    bool readsCut() const { return m_cut != nullptr; }

private:
    PocketSphinxDecoder(ps_decoder_s *decoder, ngram_model_s *baseModel, logmath_s *baseLogMath, cmd_ln_s *baseConfig,
                        std::shared_ptr<const PocketSphinxDictionaryCut> cut)
        : m_decoder(decoder), m_baseModel(baseModel), m_baseLogMath(baseLogMath), m_baseConfig(baseConfig),
          m_cut(std::move(cut))
    {}
    bool useLanguageModel(ngram_model_s *model);
    QStringList dictionaryPronunciations(const QString &word) const;

    ps_decoder_s *m_decoder;
    ngram_model_s *m_baseModel; // the packaged language model, never changed
    logmath_s *m_baseLogMath;   // what it was read with
    cmd_ln_s *m_baseConfig;
    std::shared_ptr<const PocketSphinxDictionaryCut> m_cut;
    QStringList m_vocabulary;
    bool m_inUtterance = false;
    bool m_heardAudio = false;
    bool m_inSpeech = false;
    bool m_heardSpeech = false; // in the current utterance
};

// The decoders of the process. One is loaded in the background ahead of the first take and then
// reused take after take; a take that starts while another holds it loads one more (which is
// dropped again when two are idle). Thread-safe.
//
// The pool keeps the newest channel estimate: every decoder it hands out starts from it, every
// decoder given back that heard audio updates it. With an `estimateFile`, the estimate is read from
// it with the first decoder (an unusable file is ignored with a log line) and written back by
// saveChannelEstimate() and by close(), so the next launch starts where this one ended.
//
// With a `cacheFolder`, decoders read the model's dictionary cut to its language model's words
// (PocketSphinxDictionaryCut) once a first load has made the cut there. The first load makes it from
// the language model as soon as that is read, beside the rest of the load, so even a launch that
// quits at once leaves it for the next. Once the cut is made and that load's decoder is idle, it is
// freed and a decoder of the cut loaded in its place (about 20 MB less), so the first launch holds
// what later ones hold, and never the two side by side (a take holding the whole one is waited
// for); a take that asks meanwhile waits for that load. A launch checks the cut it reads while the
// decoder loads and loads again from the whole dictionary when the cut is damaged. Whenever a decoder
// fails to load from the cut, one of the whole dictionary is loaded in its place.
//
// The pool owns its threads (the background load, the cut and the takes) and close() ends them:
// takes stop at once, a load in flight runs to its end (a fraction of a second; the library cannot
// stop it midway) and its decoder is freed.
class PocketSphinxDecoderPool {
public:
    using Loader = std::function<rt::Result<std::unique_ptr<PocketSphinxDecoder>>(
        const PocketSphinxModel &, std::shared_ptr<const PocketSphinxDictionaryCut>,
        const PocketSphinxDecoder::LanguageModelRead &)>;

    // `load` makes a decoder of `model`; tests hold it back or make it fail.
    explicit PocketSphinxDecoderPool(PocketSphinxModel model, QString estimateFile = {}, QString cacheFolder = {},
                                     Loader load = &PocketSphinxDecoder::load);
    ~PocketSphinxDecoderPool();
    PocketSphinxDecoderPool(const PocketSphinxDecoderPool &) = delete;
    PocketSphinxDecoderPool &operator=(const PocketSphinxDecoderPool &) = delete;

    const PocketSphinxModel &model() const;

    // Starts loading a decoder on a background thread unless one is idle or loading already.
    void preload();
    // Blocks until a decoder is free; fails when loading fails or when `stop` is requested first.
    rt::Result<std::unique_ptr<PocketSphinxDecoder>> acquire(std::stop_token stop);
    void release(std::unique_ptr<PocketSphinxDecoder> decoder);
    // Writes the newest estimate to the estimate file when it changed since the last write. Blocks
    // on the disk: call it off the path of a take's text.
    void saveChannelEstimate();
    std::optional<std::vector<float>> channelEstimate() const;
    // Runs a take's decoding on a thread of the pool; `take`'s token is stopped by close(). False,
    // and nothing runs, once the pool is closed.
    bool runTake(std::function<void(std::stop_token)> take);
    // Stops the takes and waits for them and for the load in flight, then saves the estimate and
    // frees the idle decoders. The pool loads nothing more. Never call it on a take's thread.
    void close();

    // For tests and benchmarks: how many decoders were loaded so far, and how many wait for a take.
    int loadCount() const;
    std::size_t idleCount() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace zq::platform
