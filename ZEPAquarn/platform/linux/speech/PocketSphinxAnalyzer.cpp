#include "platform/linux/speech/PocketSphinxAnalyzer.h"

#include "platform/AudioConverter.h"
#include "platform/linux/speech/EspeakPronouncer.h"
#include "platform/linux/speech/SpeechError.h"
#include "runtime/Log.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace zq::platform {

namespace {

constexpr double kSampleRate = 16000;
constexpr std::size_t kChunkSamples = 1600; // 0.1 s: the longest a cancel waits for the decoder
constexpr auto kPartialInterval = std::chrono::milliseconds(200);
constexpr std::size_t kPartialEverySamples = 16000; // files decode faster than real time

AudioFormat decoderFormat()
{
    AudioFormat format;
    format.sampleRate = kSampleRate;
    format.channelCount = 1;
    return format;
}

std::int16_t toInt16(float sample)
{
    const float scaled = std::clamp(sample, -1.0f, 1.0f) * 32767.0f;
    return static_cast<std::int16_t>(std::lrint(scaled));
}

rt::Error decodeError()
{
    return speechError(QStringLiteral("On-device speech recognition failed while decoding."),
                       SpeechErrorCode::decodeFailed);
}

} // namespace

struct PocketSphinxAnalyzer::Session {
    explicit Session(PocketSphinxDecoderPool &p) : pool(p) {}

    PocketSphinxDecoderPool &pool; // joins this session's thread before it goes
    rt::AsyncChannel<SpeechResult> results;
    std::stop_source stop;

    std::mutex mutex;
    std::condition_variable_any changed;
    std::deque<SharedPCMBuffer> queue;
    QStringList vocabulary; // every entry of every tag of the context
    bool inputFinished = false;
    bool done = false;
    std::optional<rt::Error> failure;

    // The decoding thread's own.
    std::unique_ptr<AudioConverter> converter;
    QString lastPartial;
    bool finalSent = false;
    std::chrono::steady_clock::time_point lastCheck = std::chrono::steady_clock::now();
    std::size_t samplesSinceCheck = 0;

    void run();
    SharedPCMBuffer nextBuffer();
    void appendSamples(const PCMBuffer &buffer, std::vector<std::int16_t> &out);
    bool decode(PocketSphinxDecoder &decoder, const std::vector<std::int16_t> &samples);
    bool endSegment(PocketSphinxDecoder &decoder);
    void finish(std::optional<rt::Error> error);
};

void PocketSphinxAnalyzer::Session::run()
{
    const std::stop_token token = stop.get_token();
    auto acquired = pool.acquire(token);
    if (!acquired) {
        finish(token.stop_requested() ? std::nullopt : std::optional(acquired.error()));
        return;
    }
    std::unique_ptr<PocketSphinxDecoder> decoder = std::move(acquired).value();
    std::vector<std::int16_t> samples;

    // Every take sets its own vocabulary, an empty one included, so a decoder never carries the
    // words of an earlier dictionary into this take. Failing to apply it only loses the bias.
    QStringList entries;
    {
        std::lock_guard lock(mutex);
        entries = vocabulary;
    }
    const EspeakPronouncer pronouncer;
    decoder->useVocabulary(PocketSphinxVocabulary::plan(
        entries, [&](const QString &word) { return decoder->pronunciations(word); },
        [&](const QString &word) { return pronouncer.pronounce(word); }));

    bool ok = decoder->startUtterance();
    while (ok && !token.stop_requested()) {
        SharedPCMBuffer buffer = nextBuffer();
        if (!buffer)
            break;
        samples.clear();
        appendSamples(*buffer, samples);
        ok = decode(*decoder, samples);
    }
    ok = decoder->endUtterance() && ok;

    if (token.stop_requested()) {
        // What it learnt is saved by the next take or when the pool closes: a stopped take may be
        // the quit's, which is then waiting for this thread.
        pool.release(std::move(decoder));
        finish(std::nullopt);
    } else if (!ok) {
        qCWarning(lcLocalBackend) << "decoder reported an error";
        finish(decodeError()); // a decoder that failed is not put back
    } else {
        // The last words; nothing new after a segment ended at the pause before the release.
        QString last = decoder->hypothesis();
        if (!last.isEmpty() || !finalSent)
            results.send(SpeechResult{std::move(last), true});
        pool.release(std::move(decoder)); // before the text is out, so the next take finds it idle
        finish(std::nullopt);
        // After the take's end is out, so the disk never delays the text.
        pool.saveChannelEstimate();
    }
}

SharedPCMBuffer PocketSphinxAnalyzer::Session::nextBuffer()
{
    std::unique_lock lock(mutex);
    changed.wait(lock, stop.get_token(), [this] { return !queue.empty() || inputFinished; });
    if (stop.stop_requested() || queue.empty())
        return nullptr;
    SharedPCMBuffer buffer = std::move(queue.front());
    queue.pop_front();
    return buffer;
}

void PocketSphinxAnalyzer::Session::appendSamples(const PCMBuffer &buffer, std::vector<std::int16_t> &out)
{
    const PCMBuffer *mono = &buffer;
    std::shared_ptr<PCMBuffer> converted;
    if (buffer.format().sampleRate != kSampleRate || buffer.channelCount() != 1) {
        AudioFormat from = buffer.format();
        from.interleaved = false;
        from.commonFormat = AudioFormat::CommonFormat::float32;
        if (!converter || !(converter->inputFormat() == from)) {
            auto made = AudioConverter::create(from, decoderFormat());
            if (!made) {
                qCWarning(lcLocalBackend) << "buffer in an unusable format skipped";
                return;
            }
            converter = std::move(made).value();
        }
        auto result = converter->convert(buffer);
        if (!result)
            return;
        converted = std::move(result).value();
        mono = converted.get();
    }
    const float *data = mono->channelData(0);
    const std::size_t frames = mono->frameLength();
    out.reserve(out.size() + frames);
    for (std::size_t i = 0; i < frames; ++i)
        out.push_back(toInt16(data[i]));
}

bool PocketSphinxAnalyzer::Session::decode(PocketSphinxDecoder &decoder, const std::vector<std::int16_t> &samples)
{
    const std::stop_token token = stop.get_token();
    for (std::size_t offset = 0; offset < samples.size(); offset += kChunkSamples) {
        if (token.stop_requested())
            return true;
        const std::size_t count = std::min(kChunkSamples, samples.size() - offset);
        if (!decoder.process(samples.data() + offset, count))
            return false;
        if (decoder.hasPausedAfterSpeech()) {
            if (!endSegment(decoder))
                return false;
            continue;
        }
        samplesSinceCheck += count;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastCheck < kPartialInterval && samplesSinceCheck < kPartialEverySamples)
            continue;
        lastCheck = now;
        samplesSinceCheck = 0;
        QString text = decoder.hypothesis();
        if (!text.isEmpty() && text != lastPartial) {
            lastPartial = text;
            results.send(SpeechResult{std::move(text), false});
        }
    }
    return true;
}

// The speaker paused: the words so far are final now rather than at the end of input, so a release
// after a pause waits for no search, and the next words start an utterance of their own.
bool PocketSphinxAnalyzer::Session::endSegment(PocketSphinxDecoder &decoder)
{
    if (!decoder.endUtterance())
        return false;
    if (QString text = decoder.hypothesis(); !text.isEmpty()) {
        results.send(SpeechResult{std::move(text), true});
        finalSent = true;
    }
    lastPartial.clear();
    return decoder.startUtterance();
}

void PocketSphinxAnalyzer::Session::finish(std::optional<rt::Error> error)
{
    if (error)
        results.fail(std::make_exception_ptr(SpeechRecognizerError(*error)));
    else
        results.finish();
    std::lock_guard lock(mutex);
    done = true;
    failure = std::move(error);
    changed.notify_all();
}

PocketSphinxAnalyzer::PocketSphinxAnalyzer(std::shared_ptr<PocketSphinxDecoderPool> pool)
    : m_pool(std::move(pool)), m_session(std::make_shared<Session>(*m_pool))
{}

PocketSphinxAnalyzer::~PocketSphinxAnalyzer()
{
    cancel();
}

rt::Result<void> PocketSphinxAnalyzer::setContext(const AnalysisContext &context)
{
    QStringList entries;
    for (const QStringList &strings : context.contextualStrings)
        entries += strings;
    std::lock_guard lock(m_session->mutex);
    if (m_started)
        return speechError(QStringLiteral("The speech analyzer has already been started."), SpeechErrorCode::misuse);
    m_session->vocabulary = std::move(entries);
    return {};
}

rt::Result<void> PocketSphinxAnalyzer::start()
{
    {
        std::lock_guard lock(m_session->mutex);
        if (m_started)
            return speechError(QStringLiteral("The speech analyzer has already been started."),
                               SpeechErrorCode::misuse);
        m_started = true;
    }
    const bool running = m_pool->runTake([session = m_session](std::stop_token closing) {
        const std::stop_callback stop(closing, [&session] { session->stop.request_stop(); });
        session->run();
    });
    if (!running) {
        m_session->finish(std::nullopt);
        return speechCancelledError();
    }
    return {};
}

void PocketSphinxAnalyzer::feed(SharedPCMBuffer buffer)
{
    if (!buffer)
        return;
    std::lock_guard lock(m_session->mutex);
    if (m_session->inputFinished || m_session->stop.stop_requested())
        return;
    m_session->queue.push_back(std::move(buffer));
    m_session->changed.notify_all();
}

void PocketSphinxAnalyzer::finishInput()
{
    std::lock_guard lock(m_session->mutex);
    m_session->inputFinished = true;
    m_session->changed.notify_all();
}

rt::Result<void> PocketSphinxAnalyzer::finalizeAndFinishThroughEndOfInput(std::stop_token stop)
{
    std::unique_lock lock(m_session->mutex);
    if (!m_started)
        return speechError(QStringLiteral("The speech analyzer was never started."), SpeechErrorCode::misuse);
    m_session->changed.wait(lock, stop, [this] { return m_session->done; });
    if (!m_session->done)
        return speechCancelledError();
    if (m_session->failure)
        return *m_session->failure;
    return {};
}

rt::AsyncChannel<SpeechResult> PocketSphinxAnalyzer::results() const
{
    return m_session->results;
}

void PocketSphinxAnalyzer::cancel()
{
    bool started = false;
    {
        std::lock_guard lock(m_session->mutex);
        started = m_started;
        m_session->queue.clear();
    }
    m_session->stop.request_stop(); // wakes the decoding thread's waits
    if (!started) {
        m_session->results.finish();
        std::lock_guard lock(m_session->mutex);
        m_session->done = true;
        m_session->changed.notify_all();
    }
}

} // namespace zq::platform
