#include "support/FakeSpeechRecognizer.h"

namespace zq::test {

void FakeSpeechAnalyzer::record(const QString &call)
{
    std::lock_guard lock(m_mutex);
    m_calls.append(call);
}

rt::Result<void> FakeSpeechAnalyzer::setContext(const platform::AnalysisContext &context)
{
    record(QStringLiteral("setContext"));
    if (setContextError)
        return *setContextError;
    std::lock_guard lock(m_mutex);
    m_context = context;
    return {};
}

rt::Result<void> FakeSpeechAnalyzer::start()
{
    record(QStringLiteral("start"));
    if (startError)
        return *startError;
    return {};
}

void FakeSpeechAnalyzer::feed(platform::SharedPCMBuffer buffer)
{
    std::lock_guard lock(m_mutex);
    m_calls.append(QStringLiteral("feed"));
    m_fed.push_back(std::move(buffer));
}

void FakeSpeechAnalyzer::finishInput()
{
    record(QStringLiteral("finishInput"));
}

rt::Result<void> FakeSpeechAnalyzer::finalizeAndFinishThroughEndOfInput(std::stop_token stop)
{
    record(QStringLiteral("finalize"));
    if (holdFinalize) {
        std::unique_lock lock(m_mutex);
        m_released.wait(lock, stop, [this] { return m_finalizeReleased; });
        if (!m_finalizeReleased)
            return rt::makeError(QStringLiteral("stopped"));
    }
    if (finalizeError)
        return *finalizeError;
    for (const auto &result : resultsAtFinalize)
        m_results.send(result);
    m_results.finish();
    return {};
}

void FakeSpeechAnalyzer::cancel()
{
    record(QStringLiteral("cancel"));
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    m_results.finish();
}

void FakeSpeechAnalyzer::failResults(rt::Error error)
{
    m_results.fail(std::make_exception_ptr(platform::SpeechRecognizerError(std::move(error))));
}

void FakeSpeechAnalyzer::releaseFinalize()
{
    std::lock_guard lock(m_mutex);
    m_finalizeReleased = true;
    m_released.notify_all();
}

QStringList FakeSpeechAnalyzer::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::optional<platform::AnalysisContext> FakeSpeechAnalyzer::context() const
{
    std::lock_guard lock(m_mutex);
    return m_context;
}

std::vector<platform::SharedPCMBuffer> FakeSpeechAnalyzer::fed() const
{
    std::lock_guard lock(m_mutex);
    return m_fed;
}

bool FakeSpeechAnalyzer::isCancelled() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

std::optional<QString> FakeSpeechRecognizer::supportedLocale(const QString &locale) const
{
    if (equivalents.contains(locale))
        return equivalents.value(locale);
    return std::nullopt;
}

rt::Result<bool> FakeSpeechRecognizer::needsAssetInstallation(const QString &locale) const
{
    if (assetQueryError)
        return *assetQueryError;
    return !installedLocales.contains(locale);
}

rt::Result<void> FakeSpeechRecognizer::installAssets(const QString &locale, std::stop_token)
{
    {
        std::lock_guard lock(m_mutex);
        m_calls.append(QStringLiteral("install ") + locale);
    }
    if (installError)
        return *installError;
    return {};
}

std::shared_ptr<platform::SpeechAnalyzer> FakeSpeechRecognizer::makeAnalyzer(const QString &locale)
{
    auto analyzer = std::make_shared<FakeSpeechAnalyzer>();
    if (configureAnalyzer)
        configureAnalyzer(*analyzer);
    std::lock_guard lock(m_mutex);
    m_calls.append(QStringLiteral("analyzer ") + locale);
    m_analyzers.push_back(analyzer);
    return analyzer;
}

std::vector<std::shared_ptr<FakeSpeechAnalyzer>> FakeSpeechRecognizer::analyzers() const
{
    std::lock_guard lock(m_mutex);
    return m_analyzers;
}

std::shared_ptr<FakeSpeechAnalyzer> FakeSpeechRecognizer::lastAnalyzer() const
{
    std::lock_guard lock(m_mutex);
    return m_analyzers.empty() ? nullptr : m_analyzers.back();
}

QStringList FakeSpeechRecognizer::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

} // namespace zq::test
