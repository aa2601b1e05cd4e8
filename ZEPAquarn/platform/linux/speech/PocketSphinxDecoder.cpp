#include "platform/linux/speech/PocketSphinxDecoder.h"

#include "platform/linux/speech/PocketSphinxChannelEstimate.h"
#include "platform/linux/speech/SpeechError.h"
#include "runtime/BoundedCall.h"
#include "runtime/Log.h"
#include "runtime/WorkerThreads.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>
#include <sphinxbase/logmath.h>
#include <sphinxbase/ngram_model.h>

#include <QTemporaryFile>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <unordered_set>
#include <utility>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace zq::platform {

namespace {

rt::Error loadError()
{
    return speechError(QStringLiteral("The on-device speech model could not be loaded."),
                       SpeechErrorCode::modelNotLoaded);
}

// How much the model's stock estimate counts against what a new decoder hears, in frames (100 a
// second): with two seconds a fresh decoder's first take adapts within the take, with none its first
// words are normalised by almost nothing. A learnt estimate counts as the library's own window (five
// seconds): weighed as two seconds at every utterance it follows each utterance's first words so
// closely that on recorded takes cut at their last word a decoder makes a fifth more word errors.
constexpr int kStockWeightFrames = 200;

// The one search of a decoder, running the packaged language model or that model with a take's
// vocabulary layered over it.
const char *const kSearch = "default";

// The share of the language model's probability each vocabulary word gets at any point of a
// sentence, whatever came before it: about as likely as a common noun. On the dictionary benchmark
// anything from 0.0002 to 0.05 let the names through about equally often and left the errors on
// general speech unchanged; this sits in the middle of that range.
constexpr double kVocabularyWordShare = 0.002;
// However many words the dictionary holds, the packaged model keeps the larger part.
constexpr double kVocabularyMaxShare = 0.2;

std::unordered_set<std::string> wordsOf(ngram_model_t *model)
{
    std::unordered_set<std::string> words;
    const std::int32_t count = static_cast<std::int32_t>(ngram_model_get_counts(model)[0]);
    words.reserve(static_cast<std::size_t>(count));
    for (std::int32_t id = 0; id < count; ++id)
        if (const char *word = ngram_word(model, id))
            words.emplace(word);
    return words;
}

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

rt::Result<std::unique_ptr<PocketSphinxDecoder>>
PocketSphinxDecoder::load(const PocketSphinxModel &model, std::shared_ptr<const PocketSphinxDictionaryCut> cut,
                          const LanguageModelRead &languageModelRead)
{
    const QByteArray hmm = QFile::encodeName(model.acousticModel);
    const QByteArray lm = QFile::encodeName(model.languageModel);
    const QByteArray dict = cut ? QByteArray::fromStdString(cut->openedFile()) : QFile::encodeName(model.dictionary);
    // The library logs through one stream for the whole process, and a decoder given a log file
    // closes that stream as it loads, under any other decoder loading or decoding at the time.
    // Silence it once instead, before the first decoder.
    static std::once_flag silenced;
    std::call_once(silenced, [] { err_set_logfp(nullptr); });
    // No second search over the whole utterance at its end (flat lexicon) and no lattice rescoring:
    // on recorded speech both cost time after the release and neither found fewer words than the
    // live search alone once the channel estimate adapts within the take. The voice detector's tail
    // is a quarter second, not the library's half: the words before a pause are final that much
    // sooner, so a release a third of a second after them waits for no search, and on the recorded
    // sentences the shorter segments lost no words.
    // The language model is read separately and kept, so a take's vocabulary can be layered over
    // it and taken off again without reading it anew.
    cmd_ln_t *config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-dict", dict.constData(),
                                   "-fwdflat", "no", "-bestpath", "no", "-vad_postspeech", "25", nullptr);
    if (!config)
        return loadError();
    ps_decoder_t *decoder = nullptr;
    // The language model is read on a thread of its own while the decoder reads the acoustic model
    // and the dictionary: the two take about as long, and the first take waits for both. The reader
    // has a configuration of its own (the decoder writes to its one as it loads), with the same
    // settings, and logarithms as the decoder computes them, so the model fits the decoder's search.
    cmd_ln_t *readerConfig = cmd_ln_init(nullptr, ps_args(), TRUE, nullptr);
    // The decoder makes its own logarithm tables the same way.
    logmath_t *logMath = logmath_init(static_cast<float64>(cmd_ln_float32_r(config, "-logbase")), 0,
                                      cmd_ln_boolean_r(config, "-bestpath"));
    ngram_model_t *baseModel = nullptr;
    if (readerConfig && logMath) {
        std::thread reader([&] {
            baseModel = ngram_model_read(readerConfig, lm.constData(), NGRAM_AUTO, logMath);
            // The reader finishes well before the decoder: its words cost the first take nothing.
            if (baseModel && languageModelRead)
                languageModelRead(wordsOf(baseModel));
        });
        decoder = ps_init(config);
        reader.join();
    }
    cmd_ln_free_r(config); // the decoder keeps its own reference
    if (baseModel && (!decoder || !cmnOf(decoder) || ps_set_lm(decoder, kSearch, baseModel) < 0 ||
                      ps_set_search(decoder, kSearch) < 0)) {
        ngram_model_free(baseModel);
        baseModel = nullptr;
    }
    if (!baseModel) {
        if (logMath)
            logmath_free(logMath);
        if (readerConfig)
            cmd_ln_free_r(readerConfig);
        if (decoder)
            ps_free(decoder);
        return loadError();
    }
    cmn_t *cmn = cmnOf(decoder);
    std::vector<float> stock(static_cast<std::size_t>(cmn->veclen));
    cmn_live_get(cmn, stock.data());
    for (int i = 0; i < cmn->veclen; ++i)
        cmn->sum[i] = stock[static_cast<std::size_t>(i)] * kStockWeightFrames;
    cmn->nframe = kStockWeightFrames;
    // The model uses its logarithms (and may read its configuration) for as long as it lives: both
    // stay with the decoder.
    return std::unique_ptr<PocketSphinxDecoder>(
        new PocketSphinxDecoder(decoder, baseModel, logMath, readerConfig, std::move(cut)));
}

PocketSphinxDecoder::~PocketSphinxDecoder()
{
    if (m_inUtterance)
        ps_end_utt(m_decoder);
    ps_free(m_decoder);
    ngram_model_free(m_baseModel);
    logmath_free(m_baseLogMath);
    cmd_ln_free_r(m_baseConfig);
}

bool PocketSphinxDecoder::startUtterance()
{
    if (m_inUtterance)
        return true;
    // The estimate goes on with all it has heard: the words after a pause are normalised as the
    // words before it were.
    m_inSpeech = false;
    m_heardSpeech = false;
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
    m_inSpeech = ps_get_in_speech(m_decoder) != 0;
    m_heardSpeech = m_heardSpeech || m_inSpeech;
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

QStringList PocketSphinxDecoder::pronunciations(const QString &word) const
{
    QStringList found = dictionaryPronunciations(word);
    return found.isEmpty() && m_cut ? m_cut->leftOut(word) : found;
}

std::unordered_set<std::string> PocketSphinxDecoder::languageModelWords() const
{
    return wordsOf(m_baseModel);
}

QStringList PocketSphinxDecoder::dictionaryPronunciations(const QString &word) const
{
    QStringList found;
    for (int variant = 1;; ++variant) {
        const QByteArray key = variant == 1 ? word.toUtf8() : QStringLiteral("%1(%2)").arg(word).arg(variant).toUtf8();
        char *phones = ps_lookup_word(m_decoder, key.constData());
        if (!phones)
            break;
        found << QString::fromUtf8(phones);
        std::free(phones);
    }
    return found;
}

bool PocketSphinxDecoder::useLanguageModel(ngram_model_t *model)
{
    return ps_set_lm(m_decoder, kSearch, model) >= 0 && ps_set_search(m_decoder, kSearch) >= 0;
}

bool PocketSphinxDecoder::useVocabulary(const PocketSphinxVocabulary &vocabulary)
{
    const QStringList texts = vocabulary.texts();
    if (texts == m_vocabulary || m_inUtterance)
        return texts == m_vocabulary;
    auto usePackaged = [this] {
        m_vocabulary.clear();
        return useLanguageModel(m_baseModel);
    };
    auto restoreBase = [&] {
        qCWarning(lcLocalBackend) << "dictionary not applied — the take uses the packaged language model";
        usePackaged();
        return false;
    };
    if (texts.isEmpty())
        return usePackaged();

    // New words join the dictionary while no search runs: adding a word to a decoder with a
    // search also adds it to that search's language model, which must stay the packaged one.
    // A word known only to the entries a cut dictionary left out joins with those.
    bool searchUnset = false;
    for (const PocketSphinxVocabulary::Word &word : vocabulary.words) {
        if (!dictionaryPronunciations(word.text).isEmpty())
            continue;
        const QStringList adding =
            word.pronunciations.isEmpty() && m_cut ? m_cut->leftOut(word.text) : word.pronunciations;
        if (adding.isEmpty())
            continue;
        if (!searchUnset) {
            ps_unset_search(m_decoder, kSearch);
            searchUnset = true;
        }
        for (qsizetype i = 0; i < adding.size(); ++i) {
            const QString name = i == 0 ? word.text : QStringLiteral("%1(%2)").arg(word.text).arg(i + 1);
            if (ps_add_word(m_decoder, name.toUtf8().constData(), adding[i].toUtf8().constData(), FALSE) < 0)
                qCDebug(lcLocalBackend) << "dictionary word not added — pronunciation rejected";
        }
    }

    // The vocabulary as a language model of its own: every word equally likely, whatever precedes it.
    QTemporaryFile arpa;
    if (!arpa.open())
        return restoreBase();
    {
        QTextStream out(&arpa);
        out << "\\data\\\nngram 1=" << texts.size() << "\n\n\\1-grams:\n";
        const double logProbability = std::log10(1.0 / static_cast<double>(texts.size()));
        for (const QString &text : texts)
            out << logProbability << ' ' << text << '\n';
        out << "\n\\end\\\n";
    }
    arpa.close();
    ngram_model_t *words = ngram_model_read(ps_get_config(m_decoder), QFile::encodeName(arpa.fileName()).constData(),
                                            NGRAM_ARPA, ps_get_logmath(m_decoder));
    if (!words)
        return restoreBase();
    const double share = std::min(kVocabularyWordShare * static_cast<double>(texts.size()), kVocabularyMaxShare);
    ngram_model_t *models[] = {m_baseModel, words};
    char baseName[] = "packaged";
    char wordsName[] = "vocabulary";
    char *names[] = {baseName, wordsName};
    const float32 weights[] = {static_cast<float32>(1.0 - share), static_cast<float32>(share)};
    ngram_model_t *layered = ngram_model_set_init(ps_get_config(m_decoder), models, names, weights, 2);
    ngram_model_free(words); // the set holds it now
    if (!layered)
        return restoreBase();
    const bool used = useLanguageModel(layered);
    ngram_model_free(layered); // the search holds it now
    if (!used)
        return restoreBase();
    m_vocabulary = texts;
    return true;
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

// The pool's state. Its threads are the last member: a pool that goes joins them before the rest.
struct PocketSphinxDecoderPool::State {
    State(PocketSphinxModel m, QString file, const QString &cache, Loader l)
        : model(std::move(m)), estimateFile(std::move(file)), cacheFolder(QFile::encodeName(cache).toStdString()),
          dictionaryFile(QFile::encodeName(model.dictionary).toStdString()),
          languageModelFile(QFile::encodeName(model.languageModel).toStdString()), load(std::move(l))
    {}

    // Gives `decoder` the newest estimate, reading the estimate file first if nobody has yet.
    // Called with `mutex` held.
    void adoptChannelEstimate(PocketSphinxDecoder &decoder);
    // The body of the background load.
    void loadInBackground(std::stop_token stop);
    // Keeps the cut of the dictionary to the words a load hands over, for the next launches, on a
    // thread of its own so neither the load nor the first take waits for it. Nothing without a
    // cache folder.
    PocketSphinxDecoder::LanguageModelRead cutMaker();
    // Loads a decoder of the cut `from` (of the whole dictionary when there is none), and of the
    // whole dictionary after all should the cut fail to load; `from` is cleared then.
    rt::Result<std::unique_ptr<PocketSphinxDecoder>> loadFromCut(std::shared_ptr<const PocketSphinxDictionaryCut> &from,
                                                                 std::stop_token stop);
    // Once the load that read the whole dictionary is done and its decoder is idle, frees that
    // decoder and loads one from the cut just made in its place (the whole one again should that
    // fail). Runs on the cut's thread, at its low priority.
    void switchToCut(std::stop_token stop);
    // The cut in the cache folder as `look` (find or open) gives it; none without one. A cache folder
    // that stopped answering (a network home) holds neither the load nor a take waiting for it: a
    // look-up that takes longer than kCacheWait is left to its thread, the whole dictionary is read,
    // and the cache is not asked again.
    using CutLookUp = decltype(&PocketSphinxDictionaryCut::find);
    std::shared_ptr<const PocketSphinxDictionaryCut> lookUpCut(CutLookUp look);
    static constexpr std::chrono::seconds kCacheWait{3};

    const PocketSphinxModel model;
    const QString estimateFile;
    // In the system's encoding, as the cut takes them.
    const std::string cacheFolder;
    const std::string dictionaryFile;
    const std::string languageModelFile;
    const Loader load;
    std::atomic<bool> cacheUnanswered{false};
    std::shared_ptr<const PocketSphinxDictionaryCut> cut; // set by the first load when one is kept
    std::mutex fileMutex;                                 // one writer at a time; taken before `mutex`, never inside it
    mutable std::mutex mutex;
    bool estimateFileRead = false;
    QString fingerprint;
    std::optional<std::vector<float>> estimate;
    std::optional<std::vector<float>> savedEstimate;
    std::condition_variable_any changed;
    std::vector<std::unique_ptr<PocketSphinxDecoder>> idle;
    bool loading = false;
    int loadCount = 0;
    int lent = 0; // decoders handed to takes and not given back
    // The background load, the cut and the takes.
    rt::WorkerThreads threads;
};

void PocketSphinxDecoderPool::State::adoptChannelEstimate(PocketSphinxDecoder &decoder)
{
    if (!estimateFileRead && !estimateFile.isEmpty()) {
        // Under the lock, so no decoder starts without the saved estimate; it happens once, on the
        // background load, and takes a few milliseconds.
        estimateFileRead = true;
        fingerprint = model.fingerprint();
        auto saved = PocketSphinxChannelEstimate::read(estimateFile, fingerprint, decoder.channelEstimateLength());
        if (saved && !estimate) {
            estimate = saved->cepstralMean;
            savedEstimate = estimate;
        }
    }
    if (estimate)
        decoder.setChannelEstimate(*estimate);
    decoder.clearHeardAudio();
}

std::shared_ptr<const PocketSphinxDictionaryCut> PocketSphinxDecoderPool::State::lookUpCut(CutLookUp look)
{
    if (cacheFolder.empty() || cacheUnanswered.load())
        return nullptr;
    auto found = std::make_shared<std::shared_ptr<const PocketSphinxDictionaryCut>>();
    if (rt::callWithin(kCacheWait,
                       [found, look, folder = cacheFolder, dictionary = dictionaryFile,
                        languageModel = languageModelFile] { *found = look(folder, dictionary, languageModel); }))
        return *found;
    cacheUnanswered.store(true);
    qCWarning(lcLocalBackend).noquote()
        << QStringLiteral("the speech cache folder did not answer within %1 s; the whole dictionary is read")
               .arg(kCacheWait.count());
    return nullptr;
}

PocketSphinxDecoder::LanguageModelRead PocketSphinxDecoderPool::State::cutMaker()
{
    if (cacheFolder.empty() || cacheUnanswered.load())
        return {};
    return [this](std::unordered_set<std::string> words) {
        threads.start(
            [this, words = std::move(words)](std::stop_token stop) {
                // Yields to the load it runs beside, and to the rest of the launch.
                ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
                auto made = PocketSphinxDictionaryCut::make(
                    cacheFolder, dictionaryFile, languageModelFile,
                    [&](std::string_view word) { return words.count(std::string(word)) > 0; });
                if (!made) {
                    qCWarning(lcLocalBackend).noquote() << made.error().message;
                    return;
                }
                switchToCut(stop);
            },
            "zq-speech-cut");
    };
}

rt::Result<std::unique_ptr<PocketSphinxDecoder>>
PocketSphinxDecoderPool::State::loadFromCut(std::shared_ptr<const PocketSphinxDictionaryCut> &from,
                                            std::stop_token stop)
{
    auto loaded = load(model, from, {});
    if (!from || (loaded && loaded.value()) || stop.stop_requested())
        return loaded;
    qCWarning(lcLocalBackend) << "speech model failed to load from the cut dictionary; loading the whole one again";
    from = nullptr;
    return load(model, nullptr, {});
}

void PocketSphinxDecoderPool::State::switchToCut(std::stop_token stop)
{
    {
        // One load at a time: the first take waits for the first load, not for this one.
        std::unique_lock lock(mutex);
        changed.wait(lock, stop, [this] { return !loading; });
        if (stop.stop_requested())
            return;
    }
    auto opened = lookUpCut(&PocketSphinxDictionaryCut::open);
    if (!opened)
        return;
    // The whole dictionary's decoder goes before the cut's is built: the two together would hold
    // half as much again as either. A take that holds it is waited for; a take that asks meanwhile
    // waits for the cut's decoder.
    std::unique_ptr<PocketSphinxDecoder> whole;
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, stop, [this] { return !idle.empty() || lent == 0; });
        if (stop.stop_requested() || loading)
            return;
        const auto found =
            std::find_if(idle.begin(), idle.end(), [](const auto &decoder) { return !decoder->readsCut(); });
        if (found != idle.end()) {
            whole = std::move(*found);
            idle.erase(found);
        } else if (!idle.empty()) {
            return; // a cut decoder is idle already
        }
        loading = true;
        ++loadCount;
    }
    if (whole) {
        whole.reset();
        // The whole dictionary is some hundred thousand small blocks, freed in the middle of the
        // heap: without a trim the allocator keeps their pages and the launch holds them anyway.
        ::malloc_trim(0);
    }
    QElapsedTimer took;
    took.start();
    rt::Result<std::unique_ptr<PocketSphinxDecoder>> loaded = speechCancelledError();
    if (!stop.stop_requested())
        loaded = loadFromCut(opened, stop);
    std::vector<std::unique_ptr<PocketSphinxDecoder>> replaced; // freed after the lock
    {
        std::lock_guard lock(mutex);
        loading = false;
        changed.notify_all();
        if (stop.stop_requested())
            return; // the pool is closing: the decoder is freed on the way out
        if (!loaded || !loaded.value()) {
            qCWarning(lcLocalBackend) << "speech model failed to load";
            return;
        }
        cut = opened;
        adoptChannelEstimate(*loaded.value());
        if (opened) {
            // A second whole decoder a take gave back meanwhile goes as well.
            for (auto &decoder : idle)
                if (!decoder->readsCut())
                    replaced.push_back(std::move(decoder));
            std::erase(idle, nullptr);
            qCInfo(lcLocalBackend) << "speech model ready in" << took.elapsed()
                                   << "ms (cut dictionary), in place of the whole dictionary's";
        }
        idle.push_back(std::move(loaded).value());
    }
    if (!replaced.empty()) {
        replaced.clear();
        ::malloc_trim(0);
    }
}

void PocketSphinxDecoderPool::State::loadInBackground(std::stop_token stop)
{
    QElapsedTimer took;
    took.start();
    std::shared_ptr<const PocketSphinxDictionaryCut> kept = lookUpCut(&PocketSphinxDictionaryCut::find);
    // Beside the load, which does not wait for it: the check that the cut reads back as it was
    // written.
    bool keptIntact = false;
    std::thread beside([&] {
        pthread_setname_np(pthread_self(), "zq-speech-check");
        keptIntact = kept && kept->intact();
    });
    auto loaded = load(model, kept, kept ? PocketSphinxDecoder::LanguageModelRead() : cutMaker());
    beside.join();
    if (kept && (!keptIntact || !loaded || !loaded.value())) {
        // A damaged cut may lack words the search needs: the decoder that read it is not used, and
        // the whole dictionary is read and cut again (unless the pool is closing). A cut that reads
        // back whole but would not load is only passed over.
        if (keptIntact)
            qCWarning(lcLocalBackend) << "speech model failed to load from the cut dictionary; loading the whole one";
        kept = nullptr;
        if (loaded)
            loaded.value().reset(); // before the next, not beside it
        if (!stop.stop_requested())
            loaded = load(model, nullptr, keptIntact ? PocketSphinxDecoder::LanguageModelRead() : cutMaker());
    }
    std::lock_guard lock(mutex);
    loading = false;
    changed.notify_all();
    if (stop.stop_requested())
        return; // the pool is closing: the decoder is freed on the way out
    if (!loaded || !loaded.value()) {
        qCWarning(lcLocalBackend) << "speech model failed to load";
        return;
    }
    cut = kept;
    adoptChannelEstimate(*loaded.value()); // reads the saved estimate now rather than at the take
    qCInfo(lcLocalBackend) << "speech model ready in" << took.elapsed() << "ms"
                           << (kept ? "(cut dictionary)" : "(whole dictionary)");
    idle.push_back(std::move(loaded).value());
}

PocketSphinxDecoderPool::PocketSphinxDecoderPool(PocketSphinxModel model, QString estimateFile, QString cacheFolder,
                                                 Loader load)
    : m_state(std::make_unique<State>(std::move(model), std::move(estimateFile), cacheFolder, std::move(load)))
{}

PocketSphinxDecoderPool::~PocketSphinxDecoderPool()
{
    close();
}

void PocketSphinxDecoderPool::close()
{
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->loading)
            qCInfo(lcLocalBackend) << "speech model still loading at close; waiting for it";
    }
    // Takes waiting for a decoder wake at once; takes decoding stop within a block and give their
    // decoders back; the load and the cut run to their end.
    m_state->threads.stopAll();
    saveChannelEstimate();
    std::vector<std::unique_ptr<PocketSphinxDecoder>> idle; // freed after the lock
    std::lock_guard lock(m_state->mutex);
    idle.swap(m_state->idle);
}

const PocketSphinxModel &PocketSphinxDecoderPool::model() const
{
    return m_state->model;
}

void PocketSphinxDecoderPool::saveChannelEstimate()
{
    State &state = *m_state;
    if (state.estimateFile.isEmpty())
        return;
    std::lock_guard fileLock(state.fileMutex);
    PocketSphinxChannelEstimate estimate;
    {
        std::lock_guard lock(state.mutex);
        if (!state.estimate || state.estimate == state.savedEstimate || state.fingerprint.isEmpty())
            return;
        estimate = {state.fingerprint, *state.estimate};
    }
    if (auto written = estimate.write(state.estimateFile); !written) {
        qCWarning(lcLocalBackend).noquote() << "channel estimate not saved:" << written.error().message;
        return;
    }
    std::lock_guard lock(state.mutex);
    state.savedEstimate = estimate.cepstralMean;
}

std::optional<std::vector<float>> PocketSphinxDecoderPool::channelEstimate() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->estimate;
}

void PocketSphinxDecoderPool::preload()
{
    State &state = *m_state;
    std::lock_guard lock(state.mutex);
    if (state.loading || !state.idle.empty())
        return;
    state.loading =
        state.threads.start([&state](std::stop_token stop) { state.loadInBackground(stop); }, "zq-speech-model");
    state.loadCount += state.loading ? 1 : 0;
}

bool PocketSphinxDecoderPool::runTake(std::function<void(std::stop_token)> take)
{
    return m_state->threads.start(std::move(take), "zq-speech-take");
}

rt::Result<std::unique_ptr<PocketSphinxDecoder>> PocketSphinxDecoderPool::acquire(std::stop_token stop)
{
    State &state = *m_state;
    std::shared_ptr<const PocketSphinxDictionaryCut> cut;
    {
        std::unique_lock lock(state.mutex);
        state.changed.wait(lock, stop, [&state] { return !state.loading || !state.idle.empty(); });
        if (stop.stop_requested())
            return speechCancelledError();
        if (!state.idle.empty()) {
            auto decoder = std::move(state.idle.back());
            state.idle.pop_back();
            state.adoptChannelEstimate(*decoder);
            ++state.lent;
            return decoder;
        }
        ++state.loadCount;
        cut = state.cut;
    }
    // Nothing idle and nothing loading: another take holds the decoder, the background load failed,
    // or there was none.
    if (!cut)
        cut = state.lookUpCut(&PocketSphinxDictionaryCut::open);
    auto loaded = state.loadFromCut(cut, stop);
    if (stop.stop_requested())
        return speechCancelledError(); // the decoder is freed on the way out
    std::lock_guard lock(state.mutex);
    if (!loaded) {
        qCWarning(lcLocalBackend) << "speech model failed to load";
        return loaded;
    }
    state.adoptChannelEstimate(*loaded.value());
    ++state.lent;
    return loaded;
}

void PocketSphinxDecoderPool::release(std::unique_ptr<PocketSphinxDecoder> decoder)
{
    if (!decoder)
        return;
    State &state = *m_state;
    std::unique_lock lock(state.mutex);
    state.lent = std::max(0, state.lent - 1);
    if (decoder->hasHeardAudio() && !decoder->isInUtterance())
        state.estimate = decoder->channelEstimate();
    if (!state.idle.empty()) {
        lock.unlock();
        decoder.reset(); // a second decoder is not worth its memory once the rush is over
        return;
    }
    state.idle.push_back(std::move(decoder));
    state.changed.notify_all();
}

int PocketSphinxDecoderPool::loadCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->loadCount;
}

std::size_t PocketSphinxDecoderPool::idleCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->idle.size();
}

} // namespace zq::platform
