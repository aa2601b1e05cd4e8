// The pronunciation dictionary cut to its language model's words, kept in a cache folder: the cut
// and the lines it left out, used only while its sources are unchanged and its files are whole.
#include "platform/linux/PocketSphinxDictionaryCut.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>

#include <sys/stat.h>
#include <utime.h>

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
    for (const auto &c : cases)
        EXPECT_EQ(cut->leftOut(QString::fromUtf8(c.word)), c.leftOut) << c.word;
}

TEST(PocketSphinxDictionaryCutTest, ACutWhoseSourcesChangedOrWhoseFilesAreDamagedIsNotUsedUntilMadeAgain)
{
    const struct {
        const char *name;
        std::function<void(Sources &)> damage;
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
         }},
        {"rest changed in one byte",
         [](Sources &s) {
             const QString file = s.cacheFile(".rest");
             QByteArray data = test::readFile(file);
             data[2] = 'X';
             test::writeFile(file, data);
         }},
        {"manifest missing", [](Sources &s) { QFile::remove(s.cacheFile(".manifest")); }},
        {"manifest garbage", [](Sources &s) { test::writeFile(s.cacheFile(".manifest"), "\x7f\x00garbage"); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Sources sources;
        ASSERT_TRUE(sources.make());
        ASSERT_TRUE(sources.open());
        c.damage(sources);
        EXPECT_FALSE(sources.open());
        ASSERT_TRUE(sources.make());
        EXPECT_TRUE(sources.open());
    }
}
