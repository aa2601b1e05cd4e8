// The pronunciation dictionary cut to its language model's words, kept in a cache folder: the cut
// and the lines it left out, used only while its sources are unchanged and its files are whole.
#include "platform/linux/speech/PocketSphinxDictionaryCut.h"
#include "platform/linux/speech/PocketSphinxDecoder.h"
#include "support/FakeCaptureCore.h"
#include "support/Polling.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <utime.h>
#include <zlib.h>

using namespace zq;
using platform::PocketSphinxDictionaryCut;

namespace {

struct Sources {
    QTemporaryDir dir;
    std::string dictionary = dir.filePath(QStringLiteral("words.dict")).toStdString();
    std::string languageModel = dir.filePath(QStringLiteral("words.lm.bin")).toStdString();
    std::string cache = dir.filePath(QStringLiteral("cache")).toStdString();

    Sources()
    {
        test::writeFile(QString::fromStdString(dictionary), "zeta Z IY T AH\nalpha AE L F AH\nbeta B EY T AH\n"
                                                            "beta(2) B IY T AH\ngamma G AE M AH\n");
        test::writeFile(QString::fromStdString(languageModel), "a language model");
    }
    bool make()
    {
        const std::set<std::string_view> inModel{"alpha", "gamma"};
        return bool(PocketSphinxDictionaryCut::make(cache, dictionary, languageModel,
                                                    [&](std::string_view word) { return inModel.count(word) > 0; }));
    }
    platform::PocketSphinxModel model() const
    {
        return {dir.path(), QString::fromStdString(languageModel), QString::fromStdString(dictionary)};
    }
    std::shared_ptr<const PocketSphinxDictionaryCut> open() const
    {
        return PocketSphinxDictionaryCut::open(cache, dictionary, languageModel);
    }
    // The one cache file ending in `suffix`.
    QString cacheFile(const char *suffix) const
    {
        const QStringList found = QDir(QString::fromStdString(cache)).entryList({QStringLiteral("*") + suffix});
        return found.size() == 1 ? QString::fromStdString(cache) + QLatin1Char('/') + found.front() : QString();
    }
};

// The loads a pool asks for, each with the cut it hands over (none: the whole dictionary). There is
// no model here: a load passes the language model's words on to whoever makes the cut, then fails.
struct Loads {
    std::mutex mutex;
    std::vector<std::shared_ptr<const PocketSphinxDictionaryCut>> cuts;
    // Runs where a decoder would open the cut it is handed.
    std::function<void(const PocketSphinxDictionaryCut &)> opening;

    platform::PocketSphinxDecoderPool::Loader loader()
    {
        return [this](const platform::PocketSphinxModel &, std::shared_ptr<const PocketSphinxDictionaryCut> cut,
                      const platform::PocketSphinxDecoder::LanguageModelRead &read)
                   -> rt::Result<std::unique_ptr<platform::PocketSphinxDecoder>> {
            if (cut && opening)
                opening(*cut);
            {
                std::lock_guard lock(mutex);
                cuts.push_back(std::move(cut));
            }
            if (read)
                read({"alpha", "gamma"});
            return rt::makeError(QStringLiteral("no speech model in this test"));
        };
    }
    std::vector<std::shared_ptr<const PocketSphinxDictionaryCut>> seen()
    {
        std::lock_guard lock(mutex);
        return cuts;
    }
};

// Puts `make` in place of the file at `path`.
void replaceEntry(const QString &path, const std::function<int(const QByteArray &)> &make)
{
    ASSERT_TRUE(QFile::remove(path)) << path.toStdString();
    ASSERT_EQ(make(QFile::encodeName(path)), 0) << path.toStdString();
}

} // namespace

TEST(PocketSphinxDictionaryCutTest, KeepsTheLanguageModelsWordsAndLooksUpTheRest)
{
    Sources sources;
    ASSERT_TRUE(sources.make());
    const auto cut = sources.open();
    ASSERT_TRUE(cut);
    EXPECT_EQ(test::readFile(QString::fromStdString(cut->dictionaryFile())), "alpha AE L F AH\ngamma G AE M AH\n");
    const struct {
        const char *word;
        QStringList leftOut;
    } cases[] = {
        {"beta", {"B EY T AH", "B IY T AH"}}, // alternates, in the dictionary's order
        {"zeta", {"Z IY T AH"}},              // first in the dictionary, last once sorted
        {"alpha", {}},                        // in the cut
        {"Beta", {}},                         // as spelt
        {"bet", {}},
        {"", {}},
    };
    // Another program emptying the rest once the cut is found changes nothing the cut answers.
    ASSERT_TRUE(QFile(sources.cacheFile(".rest")).resize(0));
    for (const auto &c : cases)
        EXPECT_EQ(cut->leftOut(QString::fromUtf8(c.word)), c.leftOut) << c.word;
}

TEST(PocketSphinxDictionaryCutTest, ACutWhoseSourcesChangedOrWhoseFilesAreDamagedIsNotUsedUntilMadeAgain)
{
    const struct {
        const char *name;
        std::function<void(Sources &)> damage;
        bool cutInPlace = false; // the cut's own file changed: a cut found before sees it when checked
    } cases[] = {
        {"dictionary grown",
         [](Sources &s) {
             test::writeFile(QString::fromStdString(s.dictionary),
                             test::readFile(QString::fromStdString(s.dictionary)) + "delta D EH L T AH\n");
         }},
        {"dictionary touched",
         [](Sources &s) {
             const struct utimbuf earlier {
                 1000000000, 1000000000
             };
             ::utime(s.dictionary.c_str(), &earlier);
         }},
        {"language model replaced",
         [](Sources &s) {
             const QString replacement = s.dir.filePath(QStringLiteral("replacement"));
             test::writeFile(replacement, "a language model");
             QFile::remove(QString::fromStdString(s.languageModel));
             QFile::rename(replacement, QString::fromStdString(s.languageModel));
         }},
        {"cut truncated",
         [](Sources &s) {
             const QString file = s.cacheFile(".dict");
             test::writeFile(file, test::readFile(file).chopped(4));
         },
         true},
        {"cut grown",
         [](Sources &s) {
             QFile file(s.cacheFile(".dict"));
             ASSERT_TRUE(file.open(QIODevice::Append));
             file.write("beta B EY T AH\n");
         },
         true},
        {"rest changed in one byte",
         [](Sources &s) {
             const QString file = s.cacheFile(".rest");
             QByteArray data = test::readFile(file);
             data[2] = 'X';
             test::writeFile(file, data);
         }},
        {"rest truncated",
         [](Sources &s) {
             const QString file = s.cacheFile(".rest");
             test::writeFile(file, test::readFile(file).chopped(4));
         }},
        {"manifest missing", [](Sources &s) { QFile::remove(s.cacheFile(".manifest")); }},
        {"rest missing", [](Sources &s) { QFile::remove(s.cacheFile(".rest")); }},
        {"manifest garbage", [](Sources &s) { test::writeFile(s.cacheFile(".manifest"), "\x7f\x00garbage"); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Sources sources;
        ASSERT_TRUE(sources.make());
        const auto before = sources.open();
        ASSERT_TRUE(before);
        c.damage(sources);
        EXPECT_FALSE(sources.open());
        EXPECT_EQ(before->intact(), !c.cutInPlace);
        // Refused before the decoder reads it, the cut's size included.
        EXPECT_FALSE(PocketSphinxDictionaryCut::find(sources.cache, sources.dictionary, sources.languageModel));
        ASSERT_TRUE(sources.make());
        EXPECT_TRUE(sources.open());
    }
}

TEST(PocketSphinxDictionaryCutTest, FindsEveryLeftOutWordWhereverItFallsInTheFile)
{
    // Words that are prefixes of one another ("w1", "w10", "w100"), written out of order, some with
    // an alternate; the model keeps every fifth.
    Sources sources;
    QByteArray dictionary;
    for (int i = 299; i >= 0; --i) {
        dictionary += "w" + QByteArray::number(i) + " P " + QByteArray::number(i) + "\n";
        if (i % 7 == 0)
            dictionary += "w" + QByteArray::number(i) + "(2)\tQ " + QByteArray::number(i) + " \n";
    }
    test::writeFile(QString::fromStdString(sources.dictionary), dictionary);
    ASSERT_TRUE(bool(PocketSphinxDictionaryCut::make(
        sources.cache, sources.dictionary, sources.languageModel, [](std::string_view word) {
            return word.substr(1).find_first_not_of("0123456789") == std::string_view::npos &&
                   std::stoi(std::string(word.substr(1))) % 5 == 0;
        })));
    const auto cut = sources.open();
    ASSERT_TRUE(cut);
    std::size_t lines = 0;
    for (int i = 0; i < 300; ++i) {
        QStringList expected;
        if (i % 5 != 0) {
            expected << QStringLiteral("P %1").arg(i);
            if (i % 7 == 0)
                expected << QStringLiteral("Q %1").arg(i);
        }
        lines += std::size_t(expected.size());
        EXPECT_EQ(cut->leftOut(QStringLiteral("w%1").arg(i)), expected) << i;
    }
    EXPECT_EQ(cut->leftOutCount(), lines);
    for (const char *absent : {"", "w", "w3000", "w1(2)", "a", "z", "w0 "})
        EXPECT_EQ(cut->leftOut(QString::fromUtf8(absent)), QStringList()) << absent;
}

TEST(PocketSphinxDictionaryCutTest, ARestFileWithoutItsLastNewlineOrWithBlankLinesStillReadsWhole)
{
    // What another writer of the cache might leave, with a manifest that vouches for it.
    const struct {
        const char *name;
        QByteArray rest;
        std::size_t count;
    } cases[] = {
        {"no final newline", "alpha A\nbeta B\nbeta(2) B2\nzeta Z", 4},
        {"blank lines", "\nalpha A\n\nbeta B\n\nbeta(2) B2\nzeta Z\n\n", 4},
        {"one line", "zeta Z", 1},
        {"empty", "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Sources sources;
        ASSERT_TRUE(sources.make());
        const QString restFile = sources.cacheFile(".rest");
        const QString manifestFile = sources.cacheFile(".manifest");
        QByteArray manifest = test::readFile(manifestFile);
        manifest.truncate(manifest.lastIndexOf("rest "));
        manifest +=
            "rest " + QByteArray::number(c.rest.size()) + ' ' +
            QByteArray::number(qulonglong(crc32(
                crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(c.rest.constData()), uInt(c.rest.size())))) +
            '\n';
        test::writeFile(restFile, c.rest);
        test::writeFile(manifestFile, manifest);
        const auto cut = sources.open();
        ASSERT_TRUE(cut);
        EXPECT_EQ(cut->leftOutCount(), c.count);
        const bool full = c.count == 4;
        EXPECT_EQ(cut->leftOut(QStringLiteral("alpha")), full ? QStringList{"A"} : QStringList());
        EXPECT_EQ(cut->leftOut(QStringLiteral("beta")), full ? (QStringList{"B", "B2"}) : QStringList());
        EXPECT_EQ(cut->leftOut(QStringLiteral("zeta")), c.count ? QStringList{"Z"} : QStringList());
        EXPECT_EQ(cut->leftOut(QStringLiteral("zet")), QStringList());
    }
}

TEST(PocketSphinxDictionaryCutTest, AHostileCacheIsPassedOverForTheWholeDictionaryAtOnceAndCutAgain)
{
    // What another program may leave in the cache: none of it may end the launch, hold it, fill its
    // memory or keep it busy, and none of it is followed elsewhere.
    const struct {
        const char *name;
        std::function<void(Sources &)> plant;
        bool cutAgain = true; // false: the folder is refused, nothing is written through it
    } cases[] = {
        {"manifest a link to an endless device",
         [](Sources &s) {
             replaceEntry(s.cacheFile(".manifest"), [](const QByteArray &at) { return ::symlink("/dev/zero", at); });
         }},
        {"manifest of a terabyte", [](Sources &s) { ASSERT_TRUE(QFile(s.cacheFile(".manifest")).resize(1LL << 40)); }},
        {"a FIFO in place of the manifest",
         [](Sources &s) {
             replaceEntry(s.cacheFile(".manifest"), [](const QByteArray &at) { return ::mkfifo(at, 0600); });
         }},
        {"a FIFO in place of the cut",
         [](Sources &s) {
             replaceEntry(s.cacheFile(".dict"), [](const QByteArray &at) { return ::mkfifo(at, 0600); });
         }},
        {"manifest naming a device as an empty cut",
         [](Sources &s) {
             const QString manifest = s.cacheFile(".manifest");
             QByteArray text = test::readFile(manifest);
             text.truncate(text.lastIndexOf("\ncut ") + 1);
             test::writeFile(manifest, text + "cut 0 0\nrest 0 0\n");
             test::writeFile(s.cacheFile(".rest"), {});
             // The node of endless zeros itself where the system allows it, else a link to it.
             replaceEntry(s.cacheFile(".dict"), [](const QByteArray &at) {
                 return ::mknod(at, S_IFCHR | 0600, makedev(1, 5)) == 0 ? 0 : ::symlink("/dev/zero", at);
             });
         }},
        {"cache folder a link to a cut made elsewhere",
         [](Sources &s) {
             const QString folder = QString::fromStdString(s.cache);
             ASSERT_TRUE(QDir().rename(folder, s.dir.filePath(QStringLiteral("elsewhere"))));
             ASSERT_TRUE(QFile::link(s.dir.filePath(QStringLiteral("elsewhere")), folder));
         },
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Sources sources;
        ASSERT_TRUE(sources.make());
        c.plant(sources);
        // Through the folder's link, if it is one: a file written there gets another inode.
        const auto inodeOfManifest = [&] {
            struct stat info {};
            return ::stat(QFile::encodeName(sources.cacheFile(".manifest")).constData(), &info) == 0 ? info.st_ino
                                                                                                     : ino_t(0);
        };
        const ino_t manifestBefore = inodeOfManifest();
        Loads loads;
        test::AudioLogCapture log;
        {
            platform::PocketSphinxDecoderPool pool(sources.model(), {}, QString::fromStdString(sources.cache),
                                                   loads.loader());
            pool.preload();
            // The load, then (once the cut is made again) the load that reads it; or the cut refused.
            EXPECT_TRUE(test::waitFor(
                [&] {
                    return c.cutAgain ? loads.seen().size() >= 2u
                                      : log.contains(QStringLiteral("the dictionary cut was not kept"));
                },
                test::kLoadedMachineTimeout));
        } // closing waits for the cut
        const auto seen = loads.seen();
        ASSERT_FALSE(seen.empty());
        EXPECT_FALSE(seen[0]) << "the launch did not read the whole dictionary";
        if (c.cutAgain) {
            // A third load, of the whole dictionary, when the cut fails to load before the pool closes.
            ASSERT_GE(seen.size(), 2u);
            ASSERT_TRUE(seen[1]) << "the cut made again was not read";
            EXPECT_EQ(seen[1]->leftOut(QStringLiteral("beta")), (QStringList{"B EY T AH", "B IY T AH"}));
        } else {
            EXPECT_EQ(seen.size(), 1u);
            EXPECT_EQ(inodeOfManifest(), manifestBefore) << "the cut was written through the link";
        }
    }
}

TEST(PocketSphinxDictionaryCutTest, ACutReplacedAtItsNameOnceFoundIsStillTheFileTheDecoderReadsAndTheCheckReads)
{
    // Another program puts something else at the cut's name between the launch's check and the
    // decoder's open: the decoder and the check both read the file that was found, and nothing
    // holds the launch.
    const struct {
        const char *name;
        std::function<int(const QByteArray &)> make;
    } cases[] = {
        {"a link to an endless device", [](const QByteArray &at) { return ::symlink("/dev/zero", at); }},
        {"a FIFO", [](const QByteArray &at) { return ::mkfifo(at, 0600); }},
        {"a file of the same size",
         [](const QByteArray &at) {
             test::writeFile(QFile::decodeName(at), "gamma G AE M AH\nalpha AE L F AH\n");
             return 0;
         }},
        {"nothing", [](const QByteArray &) { return 0; }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Sources sources;
        ASSERT_TRUE(sources.make());
        Loads loads;
        QByteArray read;
        bool intact = false;
        loads.opening = [&](const PocketSphinxDictionaryCut &cut) {
            replaceEntry(QFile::decodeName(cut.dictionaryFile().c_str()), c.make);
            // As the decoder opens it, but never waiting for a FIFO's writer or reading without end.
            const int fd = ::open(cut.openedFile().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            char bytes[256];
            const ssize_t count = fd < 0 ? -1 : ::read(fd, bytes, sizeof bytes);
            if (fd >= 0)
                ::close(fd);
            read = QByteArray(bytes, count > 0 ? count : 0);
            intact = cut.intact();
        };
        {
            platform::PocketSphinxDecoderPool pool(sources.model(), {}, QString::fromStdString(sources.cache),
                                                   loads.loader());
            pool.preload();
            EXPECT_TRUE(test::waitFor([&] { return !loads.seen().empty(); }, test::kLoadedMachineTimeout));
        } // closing waits for the load
        const auto seen = loads.seen();
        ASSERT_FALSE(seen.empty());
        EXPECT_TRUE(seen[0]) << "the cut found was passed over";
        EXPECT_EQ(read, "alpha AE L F AH\ngamma G AE M AH\n");
        EXPECT_TRUE(intact);
    }
}
