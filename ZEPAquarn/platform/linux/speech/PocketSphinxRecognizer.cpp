#include "platform/linux/speech/PocketSphinxRecognizer.h"

#include "platform/linux/speech/PocketSphinxAnalyzer.h"
#include "platform/linux/speech/SpeechError.h"
#include "runtime/Log.h"

namespace zq::platform {

namespace {

// "en", "en_GB", "EN-us" -> "en"
QString languageOf(const QString &locale)
{
    QString normalised = locale;
    normalised.replace(QLatin1Char('_'), QLatin1Char('-'));
    return normalised.section(QLatin1Char('-'), 0, 0).toLower();
}

} // namespace

PocketSphinxRecognizer::PocketSphinxRecognizer(PocketSphinxModel model, Preload preload, QString channelEstimateFile,
                                               QString cacheFolder)
    : m_pool(std::make_shared<PocketSphinxDecoderPool>(std::move(model), std::move(channelEstimateFile),
                                                       std::move(cacheFolder)))
{
    if (preload == Preload::atOnce && m_pool->model().isInstalled())
        m_pool->preload();
}

PocketSphinxRecognizer::~PocketSphinxRecognizer()
{
    m_pool->close();
}

bool PocketSphinxRecognizer::isAvailable() const
{
    return m_pool->model().isInstalled();
}

std::optional<QString> PocketSphinxRecognizer::supportedLocale(const QString &locale) const
{
    if (languageOf(locale) == QLatin1String("en"))
        return installedLocale;
    return std::nullopt;
}

rt::Result<bool> PocketSphinxRecognizer::needsAssetInstallation(const QString &locale) const
{
    return locale != installedLocale;
}

rt::Result<void> PocketSphinxRecognizer::installAssets(const QString &locale, std::stop_token)
{
    qCInfo(lcLocalBackend).noquote() << "no speech model can be installed for" << locale;
    return speechError(
        QStringLiteral("On-device transcription of “%1” needs a speech model that isn't installed on this computer. "
                       "Choose English, or switch to the OpenAI backend.")
            .arg(locale),
        SpeechErrorCode::noModel);
}

std::optional<AudioFormat> PocketSphinxRecognizer::bestAvailableAudioFormat(const QString &) const
{
    AudioFormat format;
    format.sampleRate = 16000;
    format.channelCount = 1;
    return format;
}

std::shared_ptr<SpeechAnalyzer> PocketSphinxRecognizer::makeAnalyzer(const QString &)
{
    return std::make_shared<PocketSphinxAnalyzer>(m_pool);
}

} // namespace zq::platform
