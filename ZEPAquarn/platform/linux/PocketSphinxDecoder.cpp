#include "platform/linux/PocketSphinxDecoder.h"

#include "platform/linux/PocketSphinxChannelEstimate.h"
#include "runtime/Log.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>

#include <mutex>

namespace zq::platform {

namespace {

const QString kDomain = QStringLiteral("io.quorvane.zepaquarn.speech");

// How much the estimate an utterance starts from counts against what the utterance itself brings,
// in frames (100 a second). Measured on recorded speech: with two seconds the live decode makes as
// few word errors as a decode of the whole utterance normalised by its own mean; with the library's
// five it lags behind, and with none a take's first words are normalised by almost nothing.
constexpr int kPriorWeightFrames = 200;

cmn_t *cmnOf(ps_decoder_t *decoder)
{
    feat_t *features = ps_get_feat(decoder);
    return features ? features->cmn_struct : nullptr;
}

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
    // The library logs through one stream for the whole process, and a decoder given a log file
    // closes that stream as it loads, under any other decoder loading or decoding at the time.
    // Silence it once instead, before the first decoder.
    static std::once_flag silenced;
    std::call_once(silenced, [] { err_set_logfp(nullptr); });
    // No second search over the whole utterance at its end (flat lexicon) and no lattice rescoring:
    // on recorded speech both cost time after the release and neither found fewer words than the
    // live search alone once the channel estimate adapts within the take.
    cmd_ln_t *config =
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(), "-dict", dict.constData(),
                    "-fwdflat", "no", "-bestpath", "no", nullptr);
    if (!config) {
        qCWarning(lcLocalBackend) << "speech model configuration rejected";
        return rt::makeError(QStringLiteral("The on-device speech model could not be loaded."), kDomain, 2);
    }
    ps_decoder_t *decoder = ps_init(config);
    cmd_ln_free_r(config); // the decoder keeps its own reference
    if (decoder && !cmnOf(decoder)) {
        ps_free(decoder);
        decoder = nullptr;
    }
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
    // Whatever the estimate has accumulated, this utterance weighs it as the same short history.
    cmn_t *cmn = cmnOf(m_decoder);
    const std::vector<float> estimate = channelEstimate();
    for (int i = 0; i < cmn->veclen; ++i)
        cmn->sum[i] = estimate[static_cast<std::size_t>(i)] * kPriorWeightFrames;
    cmn->nframe = kPriorWeightFrames;
    m_inUtterance = ps_start_utt(m_decoder) >= 0;
    return m_inUtterance;
}

bool PocketSphinxDecoder::process(const std::int16_t *samples, std::size_t count)
{
    if (ps_process_raw(m_decoder, samples, count, FALSE, FALSE) < 0)
        return false;
    // Left alone, the library moves its estimate only every few seconds of speech; moving it after
    // every block lets the rest of the take profit from what its start revealed.
    cmn_live_update(cmnOf(m_decoder));
    m_heardAudio = m_heardAudio || count > 0;
    return true;
}

std::vector<float> PocketSphinxDecoder::channelEstimate() const
{
    cmn_t *cmn = cmnOf(m_decoder);
    std::vector<float> estimate(static_cast<std::size_t>(cmn->veclen));
    cmn_live_get(cmn, estimate.data());
    return estimate;
}

bool PocketSphinxDecoder::setChannelEstimate(const std::vector<float> &estimate)
{
    if (estimate.size() != channelEstimateLength() || m_inUtterance)
        return false;
    cmn_live_set(cmnOf(m_decoder), estimate.data());
    return true;
}

std::size_t PocketSphinxDecoder::channelEstimateLength() const
{
    return static_cast<std::size_t>(cmnOf(m_decoder)->veclen);
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

QString PocketSphinxModel::fingerprint() const
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const char *name : {"/feat.params", "/means"}) {
        QFile file(acousticModel + QLatin1String(name));
        if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
            return {};
    }
    return QString::fromLatin1(hash.result().toHex());
}

PocketSphinxDecoderPool::PocketSphinxDecoderPool(PocketSphinxModel model, QString estimateFile)
    : m_model(std::move(model)), m_estimateFile(std::move(estimateFile))
{}

PocketSphinxDecoderPool::~PocketSphinxDecoderPool()
{
    if (m_loader.joinable())
        m_loader.join();
    saveChannelEstimate();
}

void PocketSphinxDecoderPool::adoptChannelEstimate(PocketSphinxDecoder &decoder)
{
    std::lock_guard lock(m_mutex);
    if (!m_estimateFileRead && !m_estimateFile.isEmpty()) {
        // Under the lock, so no decoder starts without the saved estimate; it happens once, on the
        // background load, and takes a few milliseconds.
        m_estimateFileRead = true;
        m_fingerprint = m_model.fingerprint();
        auto saved = PocketSphinxChannelEstimate::read(m_estimateFile, m_fingerprint, decoder.channelEstimateLength());
        if (saved && !m_estimate) {
            m_estimate = saved->cepstralMean;
            m_savedEstimate = m_estimate;
        }
    }
    if (m_estimate)
        decoder.setChannelEstimate(*m_estimate);
    decoder.clearHeardAudio();
}

void PocketSphinxDecoderPool::saveChannelEstimate()
{
    if (m_estimateFile.isEmpty())
        return;
    std::lock_guard fileLock(m_fileMutex);
    PocketSphinxChannelEstimate estimate;
    {
        std::lock_guard lock(m_mutex);
        if (!m_estimate || m_estimate == m_savedEstimate || m_fingerprint.isEmpty())
            return;
        estimate = {m_fingerprint, *m_estimate};
    }
    if (auto written = estimate.write(m_estimateFile); !written) {
        qCWarning(lcLocalBackend).noquote() << "channel estimate not saved:" << written.error().message;
        return;
    }
    std::lock_guard lock(m_mutex);
    m_savedEstimate = estimate.cepstralMean;
}

std::optional<std::vector<float>> PocketSphinxDecoderPool::channelEstimate() const
{
    std::lock_guard lock(m_mutex);
    return m_estimate;
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
        if (loaded)
            adoptChannelEstimate(*loaded.value()); // reads the saved estimate now rather than at the take
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
            lock.unlock();
            adoptChannelEstimate(*decoder);
            return decoder;
        }
        ++m_loadCount;
    }
    // Nothing idle and nothing loading: another take holds the decoder, or the background load failed.
    auto loaded = PocketSphinxDecoder::load(m_model);
    if (loaded)
        adoptChannelEstimate(*loaded.value());
    return loaded;
}

void PocketSphinxDecoderPool::release(std::unique_ptr<PocketSphinxDecoder> decoder)
{
    if (!decoder)
        return;
    std::unique_lock lock(m_mutex);
    if (decoder->hasHeardAudio() && !decoder->isInUtterance())
        m_estimate = decoder->channelEstimate();
    if (!m_idle.empty()) {
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
