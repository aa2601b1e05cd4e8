#include "platform/linux/PocketSphinxDecoder.h"

#include "runtime/Log.h"

#include <QFile>
#include <QFileInfo>

#include <pocketsphinx.h>

namespace zq::platform {

namespace {

const QString kDomain = QStringLiteral("io.quorvane.zepaquarn.speech");

} // namespace

PocketSphinxModel PocketSphinxModel::debianEnglish()
{
    const QString base = QStringLiteral("/usr/share/pocketsphinx/model/en-us/");
    return {base + QStringLiteral("en-us"), base + QStringLiteral("en-us.lm.bin"),
            base + QStringLiteral("cmudict-en-us.dict")};
}

bool PocketSphinxModel::isInstalled() const
{
    return QFileInfo::exists(acousticModel + QStringLiteral("/mdef")) && QFileInfo(languageModel).isFile() &&
           QFileInfo(dictionary).isFile();
}

rt::Result<std::unique_ptr<PocketSphinxDecoder>> PocketSphinxDecoder::load(const PocketSphinxModel &model)
{
    const QByteArray hmm = QFile::encodeName(model.acousticModel);
    const QByteArray lm = QFile::encodeName(model.languageModel);
    const QByteArray dict = QFile::encodeName(model.dictionary);
    cmd_ln_t *config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(), "-dict",
                                   dict.constData(), "-logfn", "/dev/null", nullptr);
    if (!config) {
        qCWarning(lcLocalBackend) << "speech model configuration rejected";
        return rt::makeError(QStringLiteral("The on-device speech model could not be loaded."), kDomain, 2);
    }
    ps_decoder_t *decoder = ps_init(config);
    cmd_ln_free_r(config); // the decoder keeps its own reference
    if (!decoder) {
        qCWarning(lcLocalBackend) << "speech model failed to load";
        return rt::makeError(QStringLiteral("The on-device speech model could not be loaded."), kDomain, 2);
    }
    return std::unique_ptr<PocketSphinxDecoder>(new PocketSphinxDecoder(decoder));
}

PocketSphinxDecoder::~PocketSphinxDecoder()
{
    if (m_inUtterance)
        ps_end_utt(m_decoder);
    ps_free(m_decoder);
}

bool PocketSphinxDecoder::startUtterance()
{
    if (m_inUtterance)
        return true;
    m_inUtterance = ps_start_utt(m_decoder) >= 0;
    return m_inUtterance;
}

bool PocketSphinxDecoder::process(const std::int16_t *samples, std::size_t count)
{
    return ps_process_raw(m_decoder, samples, count, FALSE, FALSE) >= 0;
}

QString PocketSphinxDecoder::hypothesis()
{
    int32 score = 0;
    const char *text = ps_get_hyp(m_decoder, &score);
    return text ? QString::fromUtf8(text) : QString();
}

bool PocketSphinxDecoder::endUtterance()
{
    if (!m_inUtterance)
        return true;
    m_inUtterance = false;
    return ps_end_utt(m_decoder) >= 0;
}

PocketSphinxDecoderPool::PocketSphinxDecoderPool(PocketSphinxModel model) : m_model(std::move(model)) {}

PocketSphinxDecoderPool::~PocketSphinxDecoderPool()
{
    if (m_loader.joinable())
        m_loader.join();
}

void PocketSphinxDecoderPool::preload()
{
    std::lock_guard lock(m_mutex);
    if (m_loading || !m_idle.empty())
        return;
    if (m_loader.joinable())
        m_loader.join(); // an earlier load that has already handed over its decoder
    m_loading = true;
    ++m_loadCount;
    m_loader = std::thread([this] {
        auto loaded = PocketSphinxDecoder::load(m_model);
        std::lock_guard lock(m_mutex);
        m_loading = false;
        if (loaded)
            m_idle.push_back(std::move(loaded).value());
        m_changed.notify_all();
    });
}

rt::Result<std::unique_ptr<PocketSphinxDecoder>> PocketSphinxDecoderPool::acquire(std::stop_token stop)
{
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, stop, [this] { return !m_loading || !m_idle.empty(); });
        if (stop.stop_requested())
            return rt::makeError(QStringLiteral("Speech recognition was cancelled."), kDomain, 3);
        if (!m_idle.empty()) {
            auto decoder = std::move(m_idle.back());
            m_idle.pop_back();
            return decoder;
        }
        ++m_loadCount;
    }
    // Nothing idle and nothing loading: another take holds the decoder, or the background load failed.
    return PocketSphinxDecoder::load(m_model);
}

void PocketSphinxDecoderPool::release(std::unique_ptr<PocketSphinxDecoder> decoder)
{
    if (!decoder)
        return;
    std::unique_lock lock(m_mutex);
    if (!m_idle.empty()) {
        if (decoder->isWarm() && !m_idle.back()->isWarm())
            std::swap(decoder, m_idle.back()); // keep the one that knows the microphone
        lock.unlock();
        decoder.reset(); // a second decoder is not worth its memory once the rush is over
        return;
    }
    m_idle.push_back(std::move(decoder));
    m_changed.notify_all();
}

int PocketSphinxDecoderPool::loadCount() const
{
    std::lock_guard lock(m_mutex);
    return m_loadCount;
}

} // namespace zq::platform
