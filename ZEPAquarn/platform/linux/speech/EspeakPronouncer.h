#pragma once

#include <QString>

#include <optional>

namespace zq::platform {

// Pronunciations of words the speech model's dictionary does not know, from espeak-ng's US English
// letter-to-sound rules, written in the acoustic model's phone set ("Z AO R B L AE T").
//
// espeak-ng keeps one engine per process, so every instance shares it behind one lock; the engine
// starts on the first word, not at construction. Thread-safe.
class EspeakPronouncer {
public:
    // The word's phones, or none when espeak-ng cannot be started or gives a sound the phone set
    // has no counterpart for.
    std::optional<QString> pronounce(const QString &word) const;

    // espeak-ng's IPA for one word, phonemes separated by '_' (and words by spaces), in the
    // acoustic model's phones. Stress and length marks are dropped; none for an unknown symbol.
    static std::optional<QString> phonesFromIpa(const QString &ipa);
};

} // namespace zq::platform
