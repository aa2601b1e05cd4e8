#pragma once

#include "platform/SpeechRecognizer.h"
#include "platform/linux/speech/PocketSphinxDecoder.h"

#include <memory>

namespace zq::platform {

// The on-device recogniser on PocketSphinx with Debian's US English model.
//
// English is the only language installed: every English locale stands for "en-US"; any other
// locale needs a model that cannot be installed here, and installAssets() says so. The model is
// loaded once, in the background from construction on (with Preload::atOnce), and reused by every
// take; analyzers decode 16 kHz mono and convert anything else themselves. With a
// `channelEstimateFile` (in the state folder), what the decoders learn about the microphone is kept
// there after every take and read again at the next launch. With a `cacheFolder`, the model's
// dictionary cut to its language model is kept there and read by later launches.
class PocketSphinxRecognizer final : public SpeechRecognizer {
public:
    enum class Preload { atOnce, onFirstUse };
    static inline const QString installedLocale = QStringLiteral("en-US");

    explicit PocketSphinxRecognizer(PocketSphinxModel model = PocketSphinxModel::debianEnglish(),
                                    Preload preload = Preload::atOnce, QString channelEstimateFile = {},
                                    QString cacheFolder = {});
    // Closes the pool (see PocketSphinxDecoderPool::close()): analyzers made here still hold it.
    ~PocketSphinxRecognizer() override;

    bool isAvailable() const override;
    std::optional<QString> supportedLocale(const QString &locale) const override;
    rt::Result<bool> needsAssetInstallation(const QString &locale) const override;
    rt::Result<void> installAssets(const QString &locale, std::stop_token stop) override;
    std::optional<AudioFormat> bestAvailableAudioFormat(const QString &locale) const override;
    std::shared_ptr<SpeechAnalyzer> makeAnalyzer(const QString &locale) override;

    const std::shared_ptr<PocketSphinxDecoderPool> &pool() const { return m_pool; }

private:
    std::shared_ptr<PocketSphinxDecoderPool> m_pool;
};

} // namespace zq::platform
