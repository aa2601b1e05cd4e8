#include "platform/linux/speech/EspeakPronouncer.h"

#include "runtime/Log.h"

#include <QRegularExpression>
#include <QStringList>

#include <espeak-ng/speak_lib.h>

#include <array>
#include <mutex>
#include <utility>

namespace zq::platform {

namespace {

// IPA symbols of US English speech and their phones. Pairs come first: a symbol run is matched
// longest first, so "aɪ" is one diphthong and "ɪɹ" is two phones.
constexpr std::array<std::pair<const char16_t *, const char *>, 12> kPairs{{
    {u"aɪ", "AY"},
    {u"aʊ", "AW"},
    {u"eɪ", "EY"},
    {u"oʊ", "OW"},
    {u"əʊ", "OW"},
    {u"ɔɪ", "OY"},
    {u"tʃ", "CH"},
    {u"dʒ", "JH"},
    // An r-coloured o is the vowel of "north", not of "go".
    {u"oɹ", "AO R"},
    {u"ɜɹ", "ER"},
    {u"əɹ", "ER"},
    {u"eə", "EH"},
}};

constexpr std::array<std::pair<char16_t, const char *>, 49> kSingles{{
    {u'ɑ', "AA"}, {u'ɒ', "AA"}, {u'a', "AA"}, {u'æ', "AE"}, {u'ʌ', "AH"}, {u'ə', "AH"}, {u'ɐ', "AH"},
    {u'ɚ', "ER"}, {u'ɝ', "ER"}, {u'ɜ', "ER"}, {u'ɔ', "AO"}, {u'ɛ', "EH"}, {u'e', "EY"}, {u'ɪ', "IH"},
    {u'ᵻ', "IH"}, {u'i', "IY"}, {u'o', "OW"}, {u'ʊ', "UH"}, {u'u', "UW"}, {u'p', "P"},  {u'b', "B"},
    {u't', "T"},  {u'd', "D"},  {u'k', "K"},  {u'ɡ', "G"},  {u'g', "G"},  {u'f', "F"},  {u'v', "V"},
    {u'θ', "TH"}, {u'ð', "DH"}, {u's', "S"},  {u'z', "Z"},  {u'ʃ', "SH"}, {u'ʒ', "ZH"}, {u'h', "HH"},
    {u'm', "M"},  {u'n', "N"},  {u'ŋ', "NG"}, {u'l', "L"},  {u'ɫ', "L"},  {u'ɹ', "R"},  {u'r', "R"},
    {u'ɾ', "T"},  {u'j', "Y"},  {u'w', "W"},  {u'ʍ', "W"},  {u'x', "K"},  {u'ç', "HH"}, {u'ʔ', ""},
}};

// Marks that change how a sound is stressed, held or tied, never which phone it is.
bool isMark(QChar c)
{
    switch (c.unicode()) {
    case u'ˈ':
    case u'ˌ':
    case u'ː':
    case u'ˑ':
    case u'\u0329': // syllabic
    case u'\u0361': // tie bar
    case u'\u0303': // nasalised
        return true;
    default:
        return false;
    }
}

std::mutex &engineMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Under engineMutex(). espeak-ng's voice data is installed with the library; once it fails to
// start it is not tried again.
bool engineStarted()
{
    static const bool started =
        [] {
            if (espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT) < 0) {
                qCWarning(lcLocalBackend)
                    << "espeak-ng failed to start — dictionary words without a pronunciation are skipped";
                return false;
            }
            if (espeak_SetVoiceByName("en-us") != EE_OK) {
                qCWarning(lcLocalBackend)
                    << "espeak-ng has no en-us voice — dictionary words without a pronunciation are skipped";
                return false;
            }
            return true;
        }();
    return started;
}

} // namespace

std::optional<QString> EspeakPronouncer::pronounce(const QString &word) const
{
    QString ipa;
    {
        std::lock_guard lock(engineMutex());
        if (!engineStarted())
            return std::nullopt;
        const QByteArray utf8 = word.toUtf8();
        const void *text = utf8.constData();
        constexpr int mode = espeakPHONEMES_IPA | ('_' << 8);
        // One call per clause; a single word is one clause, but a hyphen or apostrophe may split it.
        while (text) {
            const char *phonemes = espeak_TextToPhonemes(&text, espeakCHARS_UTF8, mode);
            if (!phonemes)
                break;
            if (!ipa.isEmpty())
                ipa += QLatin1Char(' ');
            ipa += QString::fromUtf8(phonemes).trimmed();
        }
    }
    return phonesFromIpa(ipa);
}

std::optional<QString> EspeakPronouncer::phonesFromIpa(const QString &ipa)
{
    QStringList phones;
    const QStringList symbols = ipa.split(QRegularExpression(QStringLiteral("[_\\s]+")), Qt::SkipEmptyParts);
    for (const QString &symbol : symbols) {
        QString sound;
        for (QChar c : symbol) {
            if (!isMark(c))
                sound += c;
        }
        qsizetype at = 0;
        while (at < sound.size()) {
            const char *found = nullptr;
            qsizetype length = 0;
            for (const auto &[pair, cmu] : kPairs) {
                if (QStringView(sound).mid(at).startsWith(QStringView(pair))) {
                    found = cmu;
                    length = 2;
                    break;
                }
            }
            if (!found) {
                for (const auto &[single, cmu] : kSingles) {
                    if (sound[at] == QChar(single)) {
                        found = cmu;
                        length = 1;
                        break;
                    }
                }
            }
            if (!found)
                return std::nullopt;
            if (*found)
                phones << QString::fromLatin1(found);
            at += length;
        }
    }
    if (phones.isEmpty())
        return std::nullopt;
    return phones.join(QLatin1Char(' '));
}

} // namespace zq::platform
