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
// The cache is read as the application's own files are (rt::readOwnFile()): never through a link,
// never from a FIFO or a device, never more than a file of the cut can hold. Its folder must be a
// real folder of this user, as the data folder must, and is made private to them when used
// (rt::Paths::ensurePrivateDirectory()).
//
// Paths are file names in the system's encoding.
//
// The cut found is opened then and held open: what the decoder reads and what intact() checks is
// that file, whatever comes to stand at its name afterwards (a link, a FIFO, another file).
//
// The rest is read into memory once, when the cut is found, and checked then: about a megabyte,
// and a mapped file that another program shrinks would end the process at the next lookup.
class PocketSphinxDictionaryCut {
public:
    PocketSphinxDictionaryCut() = default;
    ~PocketSphinxDictionaryCut();
    PocketSphinxDictionaryCut(const PocketSphinxDictionaryCut &) = delete;
    PocketSphinxDictionaryCut &operator=(const PocketSphinxDictionaryCut &) = delete;

    // The cut kept in `folder` for these sources, if it is current and intact.
    static std::shared_ptr<const PocketSphinxDictionaryCut>
    open(const std::string &folder, const std::string &dictionary, const std::string &languageModel);
    // The same without reading the cut through: the manifest names these sources, the cut has the
    // size it gives and the rest reads back as written. A launch checks intact() while the decoder
    // reads the cut, and does not use a decoder that read a damaged one.
    static std::shared_ptr<const PocketSphinxDictionaryCut>
    find(const std::string &folder, const std::string &dictionary, const std::string &languageModel);
    // Whether the cut reads back as the manifest says it was written. Any thread.
    bool intact() const;
    // Cuts `dictionary` to the lines whose word `inLanguageModel` accepts and keeps it in `folder`
    // (created if missing, refused if not a real folder of this user); each file is replaced whole,
    // the manifest last, whatever stood at its name (a link or a FIFO included).
    static rt::Result<void> make(const std::string &folder, const std::string &dictionary,
                                 const std::string &languageModel,
                                 const std::function<bool(std::string_view word)> &inLanguageModel);

    // The cut's name in the cache folder, for reports and for other programs.
    const std::string &dictionaryFile() const { return m_dictionaryFile; }
    // The cut as it was opened when found, as a decoder reads its dictionary by name: this process's
    // name for the open file. Valid while this object lives.
    const std::string &openedFile() const { return m_openedFile; }
    // The pronunciations the cut left out for `word` as spelt, alternates in the dictionary's order.
    QStringList leftOut(const QString &word) const;
    // Reads the whole of what was left out: for tests and reports.
    std::size_t leftOutCount() const;

private:
    std::string m_dictionaryFile;
    std::string m_openedFile;
    int m_fd = -1; // the cut, opened when found
    std::size_t m_cutSize = 0;
    std::string m_cutLine; // the manifest's line for the cut's contents
    std::string m_rest;    // whole lines, sorted by word
};

} // namespace zq::platform
