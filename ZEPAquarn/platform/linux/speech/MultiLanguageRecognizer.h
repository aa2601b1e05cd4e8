#pragma once

#include "platform/SpeechRecognizer.h"

#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace zq::platform {

// The on-device recogniser over every speech model installed here: one recogniser per model,
// chosen by the language of the locale a take asks for. A model is loaded when a take first asks
// for its language (or when loadNow() asks ahead of it), so models nobody dictates in cost no
// memory. No model can be installed from here: a language without one needs assets that
// installAssets() refuses.
class MultiLanguageRecognizer final : public SpeechRecognizer {
public:
    struct Model {
        QString locale; // "en-US"
        // Makes the model's recogniser; called once, under the lock.
        std::function<std::shared_ptr<SpeechRecognizer>()> make;
    };

    explicit MultiLanguageRecognizer(std::vector<Model> models);

    // Starts loading the model of `language` ("en") now, if one is installed, ahead of its first take.
    void loadNow(const QString &language);

    bool isAvailable() const override;
    std::optional<QString> supportedLocale(const QString &locale) const override;
    rt::Result<bool> needsAssetInstallation(const QString &locale) const override;
    rt::Result<void> installAssets(const QString &locale, std::stop_token stop) override;
    std::optional<AudioFormat> bestAvailableAudioFormat(const QString &locale) const override;
    // Null for a locale without an installed model.
    std::shared_ptr<SpeechAnalyzer> makeAnalyzer(const QString &locale) override;

    // "en", "en_GB", "EN-us" -> "en"
    static QString languageOf(const QString &locale);

private:
    const Model *modelFor(const QString &locale) const;
    std::shared_ptr<SpeechRecognizer> recognizerFor(const QString &locale) const;

    std::vector<Model> m_models;
    mutable std::mutex m_mutex;
    mutable std::map<QString, std::shared_ptr<SpeechRecognizer>> m_loaded; // by locale
};

} // namespace zq::platform
