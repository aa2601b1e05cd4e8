#include "transcription/LocalBackend.h"

#include "pipeline/LanguageCatalogue.h"
#include "pipeline/ZEPAError.h"
#include "platform/AudioConverter.h"
#include "platform/AudioFile.h"
#include "runtime/Log.h"
#include "runtime/Task.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace zq {

using platform::AudioFormat;
using platform::PCMBuffer;
using platform::SharedPCMBuffer;
using platform::SpeechAnalyzer;
using platform::SpeechRecognizer;
using platform::SpeechRecognizerError;
using platform::SpeechResult;

namespace {

constexpr std::uint32_t kFileBlockFrames = 8192;

QString describe(const AudioFormat &format)
{
    return QStringLiteral("%1 Hz, %2 ch, %3%4")
        .arg(format.sampleRate)
        .arg(format.channelCount)
        .arg(format.commonFormat == AudioFormat::CommonFormat::int16 ? QStringLiteral("int16")
                                                                     : QStringLiteral("float32"))
        .arg(format.interleaved ? QStringLiteral(", interleaved") : QString());
}

// Only spaces and tabs: line breaks the recogniser put in stay.
QString trimSpacesAndTabs(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QString describeFailure(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ZEPAError &e) {
        return e.errorDescription();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

// Names the language, not the code: "de_DE" reads as German.
QString noModelMessage(const QString &locale)
{
    QString code = locale;
    code.replace(QLatin1Char('_'), QLatin1Char('-'));
    code = code.section(QLatin1Char('-'), 0, 0).toLower();
    const std::optional<Language> language = namedLanguage(code);
    const QString name = language ? language->displayName : QStringLiteral("“%1”").arg(locale);
    // The incident reads "isn't available on this computer" as an unavailable engine, not a broken take.
    return QStringLiteral("On-device transcription of %1 isn't available on this computer: no speech model for it is "
                          "installed. Choose an installed language, or switch to OpenAI.")
        .arg(name);
}

[[noreturn]] void throwRecognizerError(const rt::Error &error)
{
    throw SpeechRecognizerError(error);
}

// The results drain: every partial is the settled text plus the current provisional phrase.
rt::Task<QString> drainResults(rt::AsyncChannel<SpeechResult> results, rt::AsyncChannel<TranscriptUpdate> out)
{
    QString committed;
    while (std::optional<SpeechResult> result = co_await results.next()) {
        qCDebug(lcLocalBackend).nospace() << "result isFinal=" << result->isFinal << " chars=" << result->text.size();
        const QString separator = committed.isEmpty() ? QString() : QStringLiteral(" ");
        if (result->isFinal) {
            committed = committed + separator + result->text;
            out.send(TranscriptUpdate::partial(committed));
        } else {
            out.send(TranscriptUpdate::partial(committed + separator + result->text));
        }
    }
    co_return committed;
}

// What the transcription task started besides itself: the analysis and its results drain. Main
// thread only.
struct TakeWork {
    std::shared_ptr<SpeechAnalyzer> analyzer;
    rt::TaskHandle<QString> drain;
    bool finished = false;

    // Stops what still runs; calling it again does nothing more.
    void end() const
    {
        if (drain.isValid() && !drain.isDone())
            drain.cancel();
        if (analyzer && !finished)
            analyzer->cancel();
    }
};

// Ends the take's work whichever way the task leaves.
struct TakeCleanup {
    std::shared_ptr<TakeWork> work;

    ~TakeCleanup() { work->end(); }
};

// The buffers of the take in the analyzer's format. A resampler holds back a few samples, so a
// converted block can be empty; those samples come out with a later block or the final flush.
class FeedConverter {
public:
    explicit FeedConverter(std::optional<AudioFormat> target) : m_target(target) {}

    // Returns the buffer to hand on (null for nothing this time). Counts conversion failures.
    SharedPCMBuffer prepare(const SharedPCMBuffer &buffer)
    {
        if (!m_target || buffer->format() == *m_target)
            return buffer;
        if (!m_converter || !(m_converter->inputFormat() == inputFormatOf(*buffer))) {
            // A new input format mid-take (another device) gets a converter of its own; resampling
            // it at the old rate would garble it.
            m_pendingTail = flush();
            auto made = platform::AudioConverter::create(inputFormatOf(*buffer), *m_target);
            qCInfo(lcLocalBackend).noquote()
                << QStringLiteral("mic format=%1 → converter %2")
                       .arg(describe(buffer->format()),
                            made ? QStringLiteral("created") : QStringLiteral("FAILED to create"));
            m_converter = made ? std::move(made).value() : nullptr;
        }
        if (m_converter) {
            auto converted = m_converter->convert(*buffer);
            if (converted)
                return std::move(converted).value();
        }
        ++conversionFailures;
        return buffer;
    }

    // What the resampler still holds at the end of the input (or before a format change).
    SharedPCMBuffer flush()
    {
        if (!m_converter)
            return nullptr;
        auto tail = m_converter->flush();
        if (!tail || tail.value()->frameLength() == 0)
            return nullptr;
        return std::move(tail).value();
    }

    SharedPCMBuffer takePendingTail() { return std::exchange(m_pendingTail, nullptr); }

    std::int64_t conversionFailures = 0;

private:
    static AudioFormat inputFormatOf(const PCMBuffer &buffer)
    {
        AudioFormat format = buffer.format();
        format.interleaved = false;
        format.commonFormat = AudioFormat::CommonFormat::float32;
        return format;
    }

    std::optional<AudioFormat> m_target;
    std::unique_ptr<platform::AudioConverter> m_converter;
    SharedPCMBuffer m_pendingTail;
};

// Waits for a task that was told to stop; how it ended does not matter.
rt::Task<void> ignoreFailure(rt::TaskHandle<QString> handle)
{
    try {
        (void)co_await handle.value();
    } catch (...) {
    }
}

// The locale a take asks for, and the one the recogniser will use for it.
struct TakeLocale {
    QString requested;
    std::optional<QString> supported;
    QString resolved;
};

TakeLocale resolveLocale(SpeechRecognizer &recognizer, const QLocale &currentLocale, const QString &language)
{
    // The C/POSIX locale of minimal sessions names no language; its messages are English.
    const QString systemLocale =
        currentLocale.language() == QLocale::C ? QStringLiteral("en_US") : currentLocale.name();
    TakeLocale locale;
    locale.requested = language == QLatin1String("auto") ? systemLocale : language;
    locale.supported = recognizer.supportedLocale(locale.requested);
    locale.resolved = locale.supported.value_or(locale.requested);
    qCInfo(lcLocalBackend).noquote()
        << QStringLiteral("locale requested=%1 resolved=%2").arg(locale.requested, locale.resolved);
    return locale;
}

rt::Task<void> installAssetsIfNeeded(std::shared_ptr<SpeechRecognizer> recognizer, TakeLocale locale)
{
    const rt::Result<bool> needsAssets = recognizer->needsAssetInstallation(locale.resolved);
    if (!needsAssets)
        throwRecognizerError(needsAssets.error());
    if (!needsAssets.value()) {
        qCInfo(lcLocalBackend) << "model assets already installed";
        co_return;
    }
    qCInfo(lcLocalBackend) << "model assets missing — downloading";
    // Named first: g++ 12 destroys the captures of a lambda written inside a co_await twice.
    auto install = [recognizer, resolved = locale.resolved](std::stop_token stop) {
        return recognizer->installAssets(resolved, stop);
    };
    const rt::Result<void> installed = co_await rt::runOnWorker(std::move(install));
    // A language the recogniser has no model for is an unavailable engine for this take: the
    // incident then tells the user to pick a supported language, not that transcription broke.
    if (!installed && !locale.supported)
        throw ZEPAError::transcriptionFailed(noModelMessage(locale.requested));
    if (!installed)
        throwRecognizerError(installed.error());
    qCInfo(lcLocalBackend) << "model download complete";
}

// An empty dictionary sets no context at all.
void startAnalyzer(SpeechAnalyzer &analyzer, const QStringList &dictionary)
{
    if (!dictionary.isEmpty()) {
        platform::AnalysisContext context;
        context.contextualStrings.insert(QStringLiteral("general"), dictionary);
        if (auto set = analyzer.setContext(context); !set)
            throwRecognizerError(set.error());
    }
    if (auto started = analyzer.start(); !started)
        throwRecognizerError(started.error());
}

// The feed loop: every buffer of the source in the analyzer's format, then the end of the input.
// Returns how many buffers were fed.
rt::Task<std::int64_t> feedBuffers(std::shared_ptr<SpeechAnalyzer> analyzer, AudioSource source,
                                   std::optional<AudioFormat> analyzerFormat)
{
    rt::MainLoop &loop = co_await rt::currentLoop();
    rt::AsyncChannel<SharedPCMBuffer> buffers =
        source.isStream() ? source.asStream()->buffers
                          : LocalBackend::readRecordingFile(source.asFile()->path, loop.workers());
    FeedConverter converter(analyzerFormat);
    std::int64_t fed = 0;
    while (std::optional<SharedPCMBuffer> buffer = co_await buffers.next()) {
        if (!*buffer)
            continue;
        SharedPCMBuffer prepared = converter.prepare(*buffer);
        if (SharedPCMBuffer tail = converter.takePendingTail())
            analyzer->feed(std::move(tail));
        if (prepared)
            analyzer->feed(std::move(prepared));
        ++fed;
    }
    if (SharedPCMBuffer tail = converter.flush())
        analyzer->feed(std::move(tail));
    analyzer->finishInput();
    qCInfo(lcLocalBackend).noquote() << QStringLiteral("input done: fed=%1 convertFailures=%2; finalizing")
                                            .arg(fed)
                                            .arg(converter.conversionFailures);
    co_return fed;
}

// The steps of one transcription up to the drained text; every failure leaves as an exception.
rt::Task<QString> transcriptionSteps(std::shared_ptr<SpeechRecognizer> recognizer, QLocale currentLocale,
                                     AudioSource source, QString language, QStringList dictionary,
                                     rt::AsyncChannel<TranscriptUpdate> out, std::shared_ptr<TakeWork> work)
{
    const TakeCleanup cleanup{work};
    TakeWork &take = *work;

    // 1.
    if (!recognizer->isAvailable())
        throw ZEPAError::transcriptionFailed(
            QStringLiteral("On-device transcription isn't available on this computer."));

    // 2-4.
    const TakeLocale locale = resolveLocale(*recognizer, currentLocale, language);
    co_await installAssetsIfNeeded(recognizer, locale);

    // 5-8.
    const std::optional<AudioFormat> analyzerFormat = recognizer->bestAvailableAudioFormat(locale.resolved);
    qCInfo(lcLocalBackend).noquote() << QStringLiteral("analyzer format=%1")
                                            .arg(analyzerFormat ? describe(*analyzerFormat)
                                                                : QStringLiteral("nil (feed as-is)"));
    take.analyzer = recognizer->makeAnalyzer(locale.resolved);
    startAnalyzer(*take.analyzer, dictionary);

    // 9.
    rt::MainLoop &loop = co_await rt::currentLoop();
    take.drain = rt::spawn(loop, drainResults(take.analyzer->results(), out));

    // 10-11.
    const std::int64_t fed = co_await feedBuffers(take.analyzer, std::move(source), analyzerFormat);

    // 12.
    if (fed < 1) {
        take.drain.cancel();
        co_await ignoreFailure(take.drain);
        throw ZEPAError::transcriptionFailed(QStringLiteral("No audio captured — check the mic"));
    }

    // 13.
    std::shared_ptr<SpeechAnalyzer> shared = take.analyzer;
    auto finalize = [shared](std::stop_token stop) { return shared->finalizeAndFinishThroughEndOfInput(stop); };
    const rt::Result<void> finalized = co_await rt::runOnWorker(std::move(finalize));
    if (!finalized)
        throwRecognizerError(finalized.error());
    take.finished = true;
    qCInfo(lcLocalBackend) << "finalize returned; awaiting results drain";

    // 14. (The trim and the final update are the caller's.)
    QString text = co_await take.drain.value();
    qCInfo(lcLocalBackend).noquote() << QStringLiteral("final text chars=%1").arg(text.size());
    co_return text;
}

rt::Task<void> runTranscription(std::shared_ptr<SpeechRecognizer> recognizer, QLocale currentLocale, AudioSource source,
                                QString language, QStringList dictionary, rt::AsyncChannel<TranscriptUpdate> out,
                                std::shared_ptr<TakeWork> work)
{
    std::exception_ptr failure;
    std::optional<QString> text;
    try {
        text = co_await transcriptionSteps(std::move(recognizer), std::move(currentLocale), std::move(source),
                                           std::move(language), std::move(dictionary), out, std::move(work));
    } catch (...) {
        failure = std::current_exception();
    }
    if (text) {
        out.send(TranscriptUpdate::final(trimSpacesAndTabs(*text)));
        out.finish();
        co_return;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const rt::CancellationError &) {
        out.cancel(); // the consumer stopped listening
        co_return;
    } catch (...) {
    }
    qCWarning(lcLocalBackend).noquote() << QStringLiteral("transcription failed: %1").arg(describeFailure(failure));
    out.fail(failure);
}

} // namespace

LocalBackend::LocalBackend(rt::MainLoop &loop, std::shared_ptr<SpeechRecognizer> recognizer, QLocale currentLocale)
    : m_loop(loop), m_recognizer(std::move(recognizer)), m_currentLocale(std::move(currentLocale))
{}

rt::AsyncChannel<TranscriptUpdate> LocalBackend::transcribe(AudioSource source, QString language,
                                                            QStringList dictionary)
{
    rt::AsyncChannel<TranscriptUpdate> out;
    auto work = std::make_shared<TakeWork>();
    rt::TaskHandle<void> task =
        rt::spawn(m_loop, runTranscription(m_recognizer, m_currentLocale, std::move(source), std::move(language),
                                           std::move(dictionary), out, work));
    // The consumer stopping (or the task itself ending the stream) stops the task, and the analysis
    // and the drain at once rather than when the task next runs: at quit the loop may not run again,
    // and the recogniser's threads would go on posting to it. Stopping what has ended does nothing.
    out.setOnTermination([task, work] {
        task.cancel();
        work->end();
    });
    return out;
}

rt::AsyncChannel<SharedPCMBuffer> LocalBackend::readRecordingFile(const QString &path, rt::WorkerThreads &threads)
{
    rt::AsyncChannel<SharedPCMBuffer> buffers;
    auto stop = std::make_shared<std::atomic<bool>>(false);
    buffers.setOnTermination([stop] { stop->store(true); });
    const bool started = threads.start([buffers, stop, path](std::stop_token ending) {
        auto opened = platform::AudioFile::openForReading(path);
        if (!opened) {
            qCWarning(lcLocalBackend).noquote()
                << QStringLiteral("recovered recording read failed: %1").arg(opened.error().message);
            buffers.finish();
            return;
        }
        platform::AudioFile &file = *opened.value();
        while (!stop->load() && !ending.stop_requested()) {
            auto block = file.read(kFileBlockFrames);
            if (!block) {
                qCWarning(lcLocalBackend).noquote()
                    << QStringLiteral("recovered recording read failed: %1").arg(block.error().message);
                break;
            }
            if (block.value()->frameLength() == 0)
                break;
            if (!buffers.send(std::move(block).value()))
                break;
        }
        buffers.finish();
    });
    if (!started)
        buffers.finish(); // the loop is ending
    return buffers;
}

} // namespace zq
