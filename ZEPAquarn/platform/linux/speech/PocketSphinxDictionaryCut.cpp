#include "platform/linux/speech/PocketSphinxDictionaryCut.h"

#include "platform/linux/speech/SpeechError.h"
#include "runtime/FileOps.h"
#include "runtime/Log.h"
#include "runtime/Paths.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace zq::platform {

namespace {

constexpr std::string_view kManifestHeader = "zq-dictionary-cut 1\n";

rt::Error cutError(const std::string &what)
{
    return speechError(QString::fromStdString("the dictionary cut was not kept: " + what), SpeechErrorCode::cutNotKept);
}

QString fileName(const std::string &path)
{
    return QFile::decodeName(path.c_str());
}

// A file of the cache, read as the application's own files are; nothing when it is missing or
// refused (the refusal is logged: something other than the application put it there).
std::optional<std::string> readCacheFile(const std::string &path, std::size_t mostBytes)
{
    auto read = rt::readOwnFile(fileName(path), static_cast<qint64>(mostBytes));
    if (read)
        return read.value().toStdString();
    if (read.error().code != ENOENT)
        qCInfo(lcLocalBackend).noquote() << "dictionary cut not used:" << read.error().message;
    return std::nullopt;
}

// The cache folder, made if missing; refused (with a log line) unless it is a real folder of this user.
rt::Result<void> cacheFolderOf(const std::string &folder)
{
    auto usable = rt::Paths::ensurePrivateDirectory(fileName(folder));
    if (!usable)
        qCWarning(lcLocalBackend).noquote() << "dictionary cut folder refused:" << usable.error().message;
    return usable;
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

// This process's name for an open file: opening it opens that file, whatever stands at its own name.
std::string descriptorName(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

// The cut at `path`, opened for the decoder: a regular file of `size` bytes, never through a link and
// never a FIFO or a device (looked at before it is opened, and what was opened looked at again),
// whose descriptor's name leads back to it. Its descriptor, or -1.
int openCut(const std::string &path, std::size_t size)
{
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0 || !S_ISREG(entry.st_mode))
        return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info {};
    struct stat named {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) != size ||
        ::stat(descriptorName(fd).c_str(), &named) != 0 || named.st_dev != info.st_dev || named.st_ino != info.st_ino) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The manifest's first lines for these sources, and the dictionary's size: no file of the cut holds
// more than the dictionary's lines and a last newline.
struct SourceLines {
    std::string lines;
    std::size_t dictionarySize = 0;
};

std::optional<SourceLines> sourcesOf(const std::string &dictionary, const std::string &languageModel)
{
    auto dictionaryLine = identity("dictionary", dictionary);
    auto modelLine = identity("languagemodel", languageModel);
    struct stat info {};
    if (!dictionaryLine || !modelLine || ::stat(dictionary.c_str(), &info) != 0 || info.st_size < 0)
        return std::nullopt;
    return SourceLines{std::string(kManifestHeader) + *dictionaryLine + *modelLine,
                       static_cast<std::size_t>(info.st_size)};
}

std::string contentLine(const char *role, std::size_t size, unsigned long sum)
{
    return std::string(role) + ' ' + std::to_string(size) + ' ' + std::to_string(sum) + '\n';
}

std::string contentLine(const char *role, std::string_view data)
{
    return contentLine(role, data.size(), checksum(data));
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

std::shared_ptr<const PocketSphinxDictionaryCut> PocketSphinxDictionaryCut::find(const std::string &folder,
                                                                                 const std::string &dictionary,
                                                                                 const std::string &languageModel)
{
    const auto sources = sourcesOf(dictionary, languageModel);
    if (!sources || !cacheFolderOf(folder))
        return nullptr;
    const CutFiles files(folder, dictionary);
    // After these lines come the two content lines: four numbers of at most 20 digits and their names.
    const auto manifest = readCacheFile(files.manifest, sources->lines.size() + 128);
    if (!manifest || !manifest->starts_with(sources->lines))
        return nullptr;
    const std::string contentLines = manifest->substr(sources->lines.size());
    const auto sizes = sizesOf(contentLines);
    if (!sizes || sizes->first > sources->dictionarySize + 1 || sizes->second > sources->dictionarySize + 1)
        return nullptr;
    // The decoder reads the cut by name: the name of the file checked here, held open, so nothing
    // put at the cut's name later (a link to an endless device, a FIFO, another file) is read.
    auto found = std::make_shared<PocketSphinxDictionaryCut>();
    found->m_fd = openCut(files.dictionary, sizes->first);
    if (found->m_fd < 0)
        return nullptr;
    auto rest = readCacheFile(files.rest, sizes->second);
    if (!rest || contentLines.substr(contentLines.find('\n') + 1) != contentLine("rest", *rest))
        return nullptr;
    found->m_dictionaryFile = files.dictionary;
    found->m_openedFile = descriptorName(found->m_fd);
    found->m_cutSize = sizes->first;
    found->m_cutLine = contentLines.substr(0, contentLines.find('\n') + 1);
    found->m_rest = std::move(*rest);
    return found;
}

PocketSphinxDictionaryCut::~PocketSphinxDictionaryCut()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PocketSphinxDictionaryCut::intact() const
{
    // The file the decoder reads, through its descriptor; a byte more than the manifest gives
    // tells of one that grew.
    std::string cut(m_cutSize + 1, '\0');
    std::size_t done = 0;
    while (m_fd >= 0 && done < cut.size()) {
        const ssize_t count = ::pread(m_fd, cut.data() + done, cut.size() - done, static_cast<off_t>(done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return false;
        if (count == 0)
            break;
        done += static_cast<std::size_t>(count);
    }
    cut.resize(done);
    return m_fd >= 0 && m_cutLine == contentLine("cut", cut);
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
    if (auto usable = cacheFolderOf(folder); !usable)
        return cutError(usable.error().message.toStdString());
    const auto sources = sourcesOf(dictionary, languageModel);
    // The model's own file, which the decoder reads as well, wherever its package put it.
    QFile source(fileName(dictionary));
    if (!sources || !source.open(QIODevice::ReadOnly))
        return cutError("its sources cannot be read");
    const QByteArray whole = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return cutError("its sources cannot be read");
    std::string cut;
    cut.reserve(static_cast<std::size_t>(whole.size()));
    std::vector<std::string_view> rest;
    for (const std::string_view line : linesOf(std::string_view(whole.constData(), std::size_t(whole.size())))) {
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

    const CutFiles files(folder, dictionary);
    // The manifest goes first and comes back last: a cut half replaced is never taken for whole.
    ::unlink(files.manifest.c_str());
    const std::string manifest = sources->lines + contentLine("cut", cut) + contentLine("rest", restText);
    for (const auto &[path, data] : {std::pair<const std::string &, const std::string &>{files.dictionary, cut},
                                     {files.rest, restText},
                                     {files.manifest, manifest}}) {
        auto replaced = rt::writeFileAtomically(
            fileName(path), QByteArray::fromRawData(data.data(), static_cast<qsizetype>(data.size())));
        if (!replaced)
            return cutError(replaced.error().message.toStdString());
    }
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
