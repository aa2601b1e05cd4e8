#pragma once

#include "runtime/Result.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace zq::platform {

// The pronunciation dictionary cut to the words its language model holds. Those are the only words
// the model's search can produce, so a decoder that reads the cut recognises what it recognised with
// the whole dictionary, with about 40 % fewer entries to read and index at launch. The entries left
// out stay at hand for a take's vocabulary, which may name any word of the dictionary.
//
// Made once from the two source files and kept in a cache folder: the cut as a dictionary file, the
// rest sorted by word, and a manifest naming both sources (size, modification time, inode, path) and
// the size and checksum of what was written. A cut whose sources changed, or whose files do not read
// back as written, is not used.
//
// Paths are file names in the system's encoding.
//
// The rest is mapped, not read: a take's vocabulary looks up a handful of words, so only the pages
// those lookups touch are resident, and the kernel may drop them again (they are clean).
class PocketSphinxDictionaryCut {
public:
    PocketSphinxDictionaryCut() = default;
    ~PocketSphinxDictionaryCut();
    PocketSphinxDictionaryCut(const PocketSphinxDictionaryCut &) = delete;
    PocketSphinxDictionaryCut &operator=(const PocketSphinxDictionaryCut &) = delete;

    // The cut kept in `folder` for these sources, if it is current and intact.
    static std::shared_ptr<const PocketSphinxDictionaryCut>
    open(const std::string &folder, const std::string &dictionary, const std::string &languageModel);
    // The same without reading the files through: the manifest names these sources and the files
    // have the sizes it gives. A launch checks intact() while the decoder reads the cut, and does
    // not use a decoder that read a damaged one.
    static std::shared_ptr<const PocketSphinxDictionaryCut>
    find(const std::string &folder, const std::string &dictionary, const std::string &languageModel);
    // Whether both files read back as the manifest says they were written. Any thread.
    bool intact() const;
    // Cuts `dictionary` to the lines whose word `inLanguageModel` accepts and keeps it in `folder`
    // (created if missing); each file is replaced whole, the manifest last.
    static rt::Result<void> make(const std::string &folder, const std::string &dictionary,
                                 const std::string &languageModel,
                                 const std::function<bool(std::string_view word)> &inLanguageModel);

    // The cut, as a decoder reads its dictionary.
    const std::string &dictionaryFile() const { return m_dictionaryFile; }
    // The pronunciations the cut left out for `word` as spelt, alternates in the dictionary's order.
    QStringList leftOut(const QString &word) const;
    // Reads the whole of what was left out: for tests and reports.
    std::size_t leftOutCount() const;

private:
    std::string m_dictionaryFile;
    std::string_view m_rest; // whole lines, sorted by word; mapped read-only
    // The files found, kept open so intact() reads those that were mapped and handed to the decoder,
    // and the manifest's lines for their contents.
    int m_cutFd = -1;
    int m_restFd = -1;
    std::string m_contentLines;
};

} // namespace zq::platform
