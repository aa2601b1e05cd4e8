#pragma once

#include "platform/SpeechRecognizer.h"

#include <QMap>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace zq::test {

// A scripted analyzer. It records what the backend does with it; results come from the test
// (emitResult, failResults) or from `resultsAtFinalize`, delivered when finalisation is asked for.
class FakeSpeechAnalyzer final : public platform::SpeechAnalyzer {
public:
    // Script, set before use.
    std::optional<rt::Error> setContextError;
    std::optional<rt::Error> startError;
    std::optional<rt::Error> finalizeError;
    std::vector<platform::SpeechResult> resultsAtFinalize;
    // Finalisation waits for releaseFinalize() (or a stop request).
    bool holdFinalize = false;

    rt::Result<void> setContext(const platform::AnalysisContext &context) override;
    rt::Result<void> start() override;
    void feed(platform::SharedPCMBuffer buffer) override;
    void finishInput() override;
    rt::Result<void> finalizeAndFinishThroughEndOfInput(std::stop_token stop) override;
    void cancel() override;
    rt::AsyncChannel<platform::SpeechResult> results() const override { return m_results; }

    void emitResult(platform::SpeechResult result) { m_results.send(std::move(result)); }
    void failResults(rt::Error error);
    void releaseFinalize();

    // What happened, in order: "setContext", "start", "feed", "finishInput", "finalize", "cancel".
    QStringList calls() const;
    std::optional<platform::AnalysisContext> context() const;
    std::vector<platform::SharedPCMBuffer> fed() const;
    bool isCancelled() const;

private:
    void record(const QString &call);

    mutable std::mutex m_mutex;
    std::condition_variable_any m_released;
    bool m_finalizeReleased = false;
    QStringList m_calls;
    std::optional<platform::AnalysisContext> m_context;
    std::vector<platform::SharedPCMBuffer> m_fed;
    bool m_cancelled = false;
    rt::AsyncChannel<platform::SpeechResult> m_results;
};

// A scripted recogniser. Analyzers it makes are kept for the test to drive and inspect.
class FakeSpeechRecognizer final : public platform::SpeechRecognizer {
public:
    bool available = true;
    QMap<QString, QString> equivalents; // locale -> supported equivalent
    QStringList installedLocales{QStringLiteral("en-US")};
    std::optional<rt::Error> assetQueryError;
    std::optional<rt::Error> installError;
    std::optional<platform::AudioFormat> preferredFormat;
    // Applied to each analyzer as it is made.
    std::function<void(FakeSpeechAnalyzer &)> configureAnalyzer;

    bool isAvailable() const override { return available; }
    std::optional<QString> supportedLocale(const QString &locale) const override;
    rt::Result<bool> needsAssetInstallation(const QString &locale) const override;
    rt::Result<void> installAssets(const QString &locale, std::stop_token stop) override;
    std::optional<platform::AudioFormat> bestAvailableAudioFormat(const QString &) const override
    {
        return preferredFormat;
    }
    std::shared_ptr<platform::SpeechAnalyzer> makeAnalyzer(const QString &locale) override;

    std::vector<std::shared_ptr<FakeSpeechAnalyzer>> analyzers() const;
    std::shared_ptr<FakeSpeechAnalyzer> lastAnalyzer() const;
    // Locales passed to installAssets and makeAnalyzer, as "install <locale>" / "analyzer <locale>".
    QStringList calls() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<FakeSpeechAnalyzer>> m_analyzers;
    QStringList m_calls;
};

} // namespace zq::test
