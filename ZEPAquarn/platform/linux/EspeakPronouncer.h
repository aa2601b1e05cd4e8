#pragma once

#include "platform/SharedLibrary.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace zq::platform {

// Pronunciations of words the speech model's dictionary does not know, from espeak-ng's US English
// letter-to-sound rules, written in the acoustic model's phone set ("Z AO R B L AE T").
//
// espeak-ng keeps one engine per process, so every instance shares it behind one lock; the library
// is loaded and the engine started on the first word, not at construction. Thread-safe.
class EspeakPronouncer {
public:
    static constexpr const char *kLibrary = "libespeak-ng.so.1";

    // `library` is the soname espeak-ng is loaded from.
    explicit EspeakPronouncer(QByteArray library = kLibrary);

    // The word's phones, or none when espeak-ng cannot be started or gives a sound the phone set
    // has no counterpart for.
    std::optional<QString> pronounce(const QString &word) const;

    // espeak-ng's IPA for one word, phonemes separated by '_' (and words by spaces), in the
    // acoustic model's phones. Stress and length marks are dropped; none for an unknown symbol.
    static std::optional<QString> phonesFromIpa(const QString &ipa);

    // The functions of espeak-ng this uses.
    struct Functions;

private:
    std::shared_ptr<const LibraryOnFirstUse<Functions>> m_espeak;
};

} // namespace zq::platform
