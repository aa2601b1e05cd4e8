#include "platform/linux/speech/PocketSphinxDictionaryCut.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace zq::platform {

namespace {

constexpr std::string_view kManifestHeader = "zq-dictionary-cut 1\n";

rt::Error cutError(const std::string &what)
{
    return rt::makeError(QString::fromStdString("the dictionary cut was not kept: " + what),
                         QStringLiteral("io.quorvane.zepaquarn.speech"), 6);
}

std::optional<std::string> readWhole(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string data;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0)
        data.reserve(static_cast<std::size_t>(info.st_size));
    char block[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        data.append(block, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return data;
}

// Writes `data` beside `path` and renames it into place, so a reader sees the old file or the new
// one whole.
bool replaceWhole(const std::string &path, std::string_view data)
{
    const std::string temporary = path + ".new-" + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t put = ::write(fd, data.data() + written, data.size() - written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        written += static_cast<std::size_t>(put);
    }
    const bool ok = ::close(fd) == 0 && written == data.size() && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}

unsigned long checksum(std::string_view data)
{
    uLong sum = crc32(0L, Z_NULL, 0);
    for (std::size_t done = 0; done < data.size();) {
        const uInt chunk = static_cast<uInt>(std::min<std::size_t>(data.size() - done, 1u << 30));
        sum = crc32(sum, reinterpret_cast<const Bytef *>(data.data() + done), chunk);
        done += chunk;
    }
    return sum;
}

// What names a source file's contents without reading it: a changed, replaced or moved file gives
// another line.
std::optional<std::string> identity(const char *role, const std::string &path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    char line[160];
    std::snprintf(line, sizeof line, "%s %lld %lld.%09ld %llu %llu ", role, static_cast<long long>(info.st_size),
                  static_cast<long long>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec,
                  static_cast<unsigned long long>(info.st_ino), static_cast<unsigned long long>(info.st_dev));
    return line + path + '\n';
}

std::optional<std::string> sourcesOf(const std::string &dictionary, const std::string &languageModel)
{
    auto dictionaryLine = identity("dictionary", dictionary);
    auto modelLine = identity("languagemodel", languageModel);
    if (!dictionaryLine || !modelLine)
        return std::nullopt;
    return std::string(kManifestHeader) + *dictionaryLine + *modelLine;
}

std::string contentLine(const char *role, std::size_t size, unsigned long sum)
{
    return std::string(role) + ' ' + std::to_string(size) + ' ' + std::to_string(sum) + '\n';
}

std::string contentLine(const char *role, std::string_view data)
{
    return contentLine(role, data.size(), checksum(data));
}

// What a file of the cut holds, read through once without keeping it: the read goes through the
// page cache, not into the process.
struct Content {
    std::size_t size = 0;
    unsigned long sum = 0;
};

std::optional<Content> contentOf(int fd)
{
    Content content;
    content.sum = crc32(0L, Z_NULL, 0);
    char block[1 << 16];
    for (;;) {
        const ssize_t got = ::pread(fd, block, sizeof block, static_cast<off_t>(content.size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        content.sum = crc32(content.sum, reinterpret_cast<const Bytef *>(block), static_cast<uInt>(got));
        content.size += static_cast<std::size_t>(got);
    }
    return content;
}

// The sizes the manifest's content lines (after its sources) give the cut and the rest.
std::optional<std::pair<std::size_t, std::size_t>> sizesOf(const std::string &contentLines)
{
    unsigned long long cut = 0;
    unsigned long long rest = 0;
    unsigned long cutSum = 0;
    unsigned long restSum = 0;
    int consumed = 0;
    if (std::sscanf(contentLines.c_str(), "cut %llu %lu\nrest %llu %lu\n%n", &cut, &cutSum, &rest, &restSum,
                    &consumed) != 4 ||
        static_cast<std::size_t>(consumed) != contentLines.size() ||
        contentLines != contentLine("cut", static_cast<std::size_t>(cut), cutSum) +
                            contentLine("rest", static_cast<std::size_t>(rest), restSum))
        return std::nullopt;
    return std::pair{static_cast<std::size_t>(cut), static_cast<std::size_t>(rest)};
}

std::size_t sizeOf(int fd)
{
    struct stat info {};
    return ::fstat(fd, &info) == 0 && info.st_size >= 0 ? static_cast<std::size_t>(info.st_size) : SIZE_MAX;
}

// The files of the cut of `dictionary` in `folder`, named after the dictionary's path so models of
// several languages keep a cut each.
struct CutFiles {
    std::string dictionary, rest, manifest;

    CutFiles(const std::string &folder, const std::string &source)
    {
        char name[64];
        std::snprintf(name, sizeof name, "/speech-dictionary-%08lx", checksum(source));
        const std::string base = folder + name;
        dictionary = base + ".dict";
        rest = base + ".rest";
        manifest = base + ".manifest";
    }
};

// The word of a dictionary line: its first field, without the "(2)" that numbers an alternate.
std::string_view wordOf(std::string_view line)
{
    std::string_view word = line.substr(0, line.find_first_of(" \t"));
    if (word.size() > 3 && word.back() == ')') {
        const std::size_t open = word.rfind('(');
        if (open != std::string_view::npos && open > 0 &&
            std::all_of(word.begin() + static_cast<std::ptrdiff_t>(open) + 1, word.end() - 1,
                        [](char c) { return c >= '0' && c <= '9'; }) &&
            open + 2 < word.size())
            word = word.substr(0, open);
    }
    return word;
}

std::vector<std::string_view> linesOf(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (!line.empty())
            lines.push_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

} // namespace

PocketSphinxDictionaryCut::~PocketSphinxDictionaryCut()
{
    if (!m_rest.empty())
        ::munmap(const_cast<char *>(m_rest.data()), m_rest.size());
    for (const int fd : {m_cutFd, m_restFd})
        if (fd >= 0)
            ::close(fd);
}

std::shared_ptr<const PocketSphinxDictionaryCut> PocketSphinxDictionaryCut::find(const std::string &folder,
                                                                                 const std::string &dictionary,
                                                                                 const std::string &languageModel)
{
    const CutFiles files(folder, dictionary);
    const auto sources = sourcesOf(dictionary, languageModel);
    const auto manifest = readWhole(files.manifest);
    if (!sources || !manifest || !manifest->starts_with(*sources))
        return nullptr;
    auto found = std::make_shared<PocketSphinxDictionaryCut>();
    found->m_contentLines = manifest->substr(sources->size());
    const auto sizes = sizesOf(found->m_contentLines);
    found->m_cutFd = ::open(files.dictionary.c_str(), O_RDONLY | O_CLOEXEC);
    found->m_restFd = ::open(files.rest.c_str(), O_RDONLY | O_CLOEXEC);
    // A mapping longer than its file faults where the file ends: sizes first.
    if (!sizes || found->m_cutFd < 0 || found->m_restFd < 0 || sizeOf(found->m_cutFd) != sizes->first ||
        sizeOf(found->m_restFd) != sizes->second)
        return nullptr;
    found->m_dictionaryFile = files.dictionary;
    // make() replaces these files by renaming, never in place: the mapping stays what was found.
    if (sizes->second > 0) {
        void *mapped = ::mmap(nullptr, sizes->second, PROT_READ, MAP_PRIVATE, found->m_restFd, 0);
        if (mapped == MAP_FAILED)
            return nullptr;
        found->m_rest = std::string_view(static_cast<const char *>(mapped), sizes->second);
    }
    return found;
}

bool PocketSphinxDictionaryCut::intact() const
{
    const auto cut = contentOf(m_cutFd);
    const auto rest = contentOf(m_restFd);
    return cut && rest &&
           m_contentLines == contentLine("cut", cut->size, cut->sum) + contentLine("rest", rest->size, rest->sum);
}

std::shared_ptr<const PocketSphinxDictionaryCut> PocketSphinxDictionaryCut::open(const std::string &folder,
                                                                                 const std::string &dictionary,
                                                                                 const std::string &languageModel)
{
    auto found = find(folder, dictionary, languageModel);
    return found && found->intact() ? found : nullptr;
}

std::size_t PocketSphinxDictionaryCut::leftOutCount() const
{
    return linesOf(m_rest).size();
}

rt::Result<void> PocketSphinxDictionaryCut::make(const std::string &folder, const std::string &dictionary,
                                                 const std::string &languageModel,
                                                 const std::function<bool(std::string_view word)> &inLanguageModel)
{
    const auto sources = sourcesOf(dictionary, languageModel);
    const auto whole = readWhole(dictionary);
    if (!sources || !whole)
        return cutError("its sources cannot be read");
    std::string cut;
    cut.reserve(whole->size());
    std::vector<std::string_view> rest;
    for (const std::string_view line : linesOf(*whole)) {
        if (inLanguageModel(wordOf(line)))
            (cut += line) += '\n';
        else
            rest.push_back(line);
    }
    // Sorted by word, alternates kept in their order, for looking words up.
    std::stable_sort(rest.begin(), rest.end(),
                     [](std::string_view a, std::string_view b) { return wordOf(a) < wordOf(b); });
    std::string restText;
    for (const std::string_view line : rest)
        (restText += line) += '\n';

    std::error_code failed;
    std::filesystem::create_directories(folder, failed);
    const CutFiles files(folder, dictionary);
    // The manifest goes first and comes back last: a cut half replaced is never taken for whole.
    ::unlink(files.manifest.c_str());
    if (failed || !replaceWhole(files.dictionary, cut) || !replaceWhole(files.rest, restText) ||
        !replaceWhole(files.manifest, *sources + contentLine("cut", cut) + contentLine("rest", restText)))
        return cutError(failed ? failed.message() : std::string(std::strerror(errno)));
    return {};
}

QStringList PocketSphinxDictionaryCut::leftOut(const QString &word) const
{
    const QByteArray spelt = word.toUtf8();
    const std::string_view key(spelt.constData(), static_cast<std::size_t>(spelt.size()));
    const std::string_view rest = m_rest;
    const auto lineAt = [rest](std::size_t start) { return rest.substr(start, rest.find('\n', start) - start); };
    // The first line whose word is not before `key`, by bisecting the bytes. `first` is always a
    // line's start; every line that starts before it has a word before `key`, and every line that
    // starts at or after `last` does not (blank lines have no word and are stepped over).
    std::size_t first = 0;
    std::size_t last = rest.size();
    while (first < last) {
        const std::size_t middle = first + (last - first) / 2;
        // The start of the line holding `middle` (npos + 1 is 0: the file's first line).
        const std::size_t start = middle == 0 ? 0 : rest.rfind('\n', middle - 1) + 1;
        const std::size_t filled = rest.find_first_not_of('\n', start);
        if (filled == std::string_view::npos || filled >= last) {
            last = start;
            continue;
        }
        const std::string_view line = lineAt(filled);
        if (wordOf(line) < key)
            first = std::min(rest.size(), filled + line.size() + 1);
        else
            last = start;
    }
    QStringList found;
    for (std::size_t at = first; at < rest.size();) {
        const std::string_view line = lineAt(at);
        at += line.size() + 1;
        if (line.empty())
            continue;
        if (wordOf(line) != key)
            break;
        std::string_view phones = line.substr(std::min(line.size(), line.find_first_of(" \t")));
        const std::size_t start = phones.find_first_not_of(" \t");
        phones = start == std::string_view::npos ? std::string_view() : phones.substr(start);
        while (!phones.empty() && (phones.back() == ' ' || phones.back() == '\t' || phones.back() == '\r'))
            phones.remove_suffix(1);
        found << QString::fromUtf8(phones.data(), static_cast<qsizetype>(phones.size()));
    }
    return found;
}

} // namespace zq::platform
