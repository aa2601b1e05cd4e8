#include "platform/linux/speech/MultiLanguageRecognizer.h"

#include "platform/linux/speech/SpeechError.h"
#include "runtime/Log.h"

namespace zq::platform {

MultiLanguageRecognizer::MultiLanguageRecognizer(std::vector<Model> models) : m_models(std::move(models)) {}

void MultiLanguageRecognizer::loadNow(const QString &language)
{
    (void)recognizerFor(language);
}

QString MultiLanguageRecognizer::languageOf(const QString &locale)
{
    QString normalised = locale;
    normalised.replace(QLatin1Char('_'), QLatin1Char('-'));
    return normalised.section(QLatin1Char('-'), 0, 0).toLower();
}

const MultiLanguageRecognizer::Model *MultiLanguageRecognizer::modelFor(const QString &locale) const
{
    const QString language = languageOf(locale);
    for (const Model &model : m_models) {
        if (languageOf(model.locale) == language)
            return &model;
    }
    return nullptr;
}

std::shared_ptr<SpeechRecognizer> MultiLanguageRecognizer::recognizerFor(const QString &locale) const
{
    const Model *model = modelFor(locale);
    if (!model)
        return nullptr;
    std::lock_guard lock(m_mutex);
    std::shared_ptr<SpeechRecognizer> &loaded = m_loaded[model->locale];
    if (!loaded) {
        qCInfo(lcLocalBackend).noquote() << "speech model for" << model->locale << "— loading";
        loaded = model->make();
    }
    return loaded;
}

bool MultiLanguageRecognizer::isAvailable() const
{
    return !m_models.empty();
}

std::optional<QString> MultiLanguageRecognizer::supportedLocale(const QString &locale) const
{
    if (const Model *model = modelFor(locale))
        return model->locale;
    return std::nullopt;
}

rt::Result<bool> MultiLanguageRecognizer::needsAssetInstallation(const QString &locale) const
{
    for (const Model &model : m_models) {
        if (model.locale == locale)
            return false;
    }
    return true;
}

rt::Result<void> MultiLanguageRecognizer::installAssets(const QString &locale, std::stop_token)
{
    qCInfo(lcLocalBackend).noquote() << "no speech model can be installed for" << locale;
    return speechError(
        QStringLiteral("No speech model for “%1” is installed on this computer, and none can be installed from here.")
            .arg(locale),
        SpeechErrorCode::noModel);
}

std::optional<AudioFormat> MultiLanguageRecognizer::bestAvailableAudioFormat(const QString &locale) const
{
    const std::shared_ptr<SpeechRecognizer> recognizer = recognizerFor(locale);
    return recognizer ? recognizer->bestAvailableAudioFormat(locale) : std::nullopt;
}

std::shared_ptr<SpeechAnalyzer> MultiLanguageRecognizer::makeAnalyzer(const QString &locale)
{
    const std::shared_ptr<SpeechRecognizer> recognizer = recognizerFor(locale);
    return recognizer ? recognizer->makeAnalyzer(locale) : nullptr;
}

} // namespace zq::platform
