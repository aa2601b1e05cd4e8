#pragma once

#include "platform/AudioFormat.h"
#include "platform/PCMBuffer.h"
#include "runtime/AsyncChannel.h"
#include "runtime/Result.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <exception>
#include <memory>
#include <optional>
#include <stop_token>

namespace zq::platform {

// One result of an analysis: the recognised text of the current phrase, either provisional
// (`isFinal` false: later results may still change it) or settled (`isFinal` true: later results
// carry only what follows it).
struct SpeechResult {
    QString text;
    bool isFinal = false;

    friend bool operator==(const SpeechResult &, const SpeechResult &) = default;
};

// The recogniser's own failure as it travels through a results channel or out of a transcription
// stream. what() is the message in UTF-8.
class SpeechRecognizerError : public std::exception {
public:
    explicit SpeechRecognizerError(rt::Error error) : m_error(std::move(error)), m_what(m_error.message.toUtf8()) {}
    const rt::Error &error() const { return m_error; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    rt::Error m_error;
    QByteArray m_what;
};

// Extra words the recogniser should expect, grouped under tags ("general" for a user's vocabulary).
struct AnalysisContext {
    QMap<QString, QStringList> contextualStrings;
    friend bool operator==(const AnalysisContext &, const AnalysisContext &) = default;
};

// One analysis of one stream of audio, made by SpeechRecognizer::makeAnalyzer().
//
// Order of use: setContext() (optional), start(), feed() any number of times, finishInput(), then
// finalizeAndFinishThroughEndOfInput(). Recognition runs on the recogniser's own thread: feed()
// only queues the buffer and never waits for analysis. Results arrive on results() in order, from
// that thread; the channel finishes once the end of input has been analysed (after the last final
// result) and fails with a SpeechRecognizerError when recognition breaks down. cancel() abandons
// the analysis at once from any thread: queued audio is dropped and the results channel finishes.
// Destroying an analyzer cancels it.
class SpeechAnalyzer {
public:
    virtual ~SpeechAnalyzer() = default;

    virtual rt::Result<void> setContext(const AnalysisContext &context) = 0;
    virtual rt::Result<void> start() = 0;
    // Buffers in any float format are accepted; bestAvailableAudioFormat() is the one that needs no conversion.
    virtual void feed(SharedPCMBuffer buffer) = 0;
    virtual void finishInput() = 0;
    // Blocks until all input has been analysed and its results delivered. Returns early, with an
    // error, when `stop` is requested. Call it on a worker thread.
    virtual rt::Result<void> finalizeAndFinishThroughEndOfInput(std::stop_token stop) = 0;
    virtual void cancel() = 0;

    virtual rt::AsyncChannel<SpeechResult> results() const = 0;
};

// The on-device speech recogniser: its models ("assets") per locale and the analyzers that run them.
//
// Locales are identifiers such as "en-US" or "en_US". The recogniser is shared by all takes and
// lives as long as the application; its methods may be called from any thread. Those that may
// block (asset installation) say so; the others return at once.
class SpeechRecognizer {
public:
    virtual ~SpeechRecognizer() = default;

    // Whether on-device recognition can run on this machine at all.
    virtual bool isAvailable() const = 0;
    // The supported locale that stands for `locale` (same language), or none.
    virtual std::optional<QString> supportedLocale(const QString &locale) const = 0;
    // Whether the locale's model must be installed before an analyzer can use it.
    virtual rt::Result<bool> needsAssetInstallation(const QString &locale) const = 0;
    // Installs the locale's model. Blocks; returns early with an error when `stop` is requested.
    virtual rt::Result<void> installAssets(const QString &locale, std::stop_token stop) = 0;
    // The input format the analyzers take without converting, or none when any format is as good.
    virtual std::optional<AudioFormat> bestAvailableAudioFormat(const QString &locale) const = 0;
    // A new, not yet started analyzer for the locale.
    virtual std::shared_ptr<SpeechAnalyzer> makeAnalyzer(const QString &locale) = 0;
};

} // namespace zq::platform
