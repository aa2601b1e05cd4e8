// Reading the update feed and choosing the item to offer.

#include "platform/linux/appcast/Appcast.h"
#include "support/UpdateFeedKit.h"

#include <gtest/gtest.h>

using namespace zq::platform;
using zq::test::FeedItem;
using zq::test::makeAppcast;

namespace {

const QUrl kFeed(QStringLiteral("https://updates.example.test/feed/appcast.xml"));

FeedItem item(const QString &build, const QString &version)
{
    return {build,
            version,
            QStringLiteral("https://updates.example.test/zq-") + build + QStringLiteral(".tar.gz"),
            100,
            QByteArray(88, 'A'),
            {},
            {}};
}

std::vector<AppcastItem> parsed(const std::vector<FeedItem> &items)
{
    auto result = appcast::parse(makeAppcast(items), kFeed);
    EXPECT_TRUE(result.hasValue());
    return result ? result.value() : std::vector<AppcastItem>{};
}

} // namespace

TEST(AppcastTest, ReadsEveryFieldOfAnItem)
{
    const QByteArray xml = R"(<?xml version="1.0"?>
<rss version="2.0" xmlns:zq="https://zepaquarn.quorvane.io/xml-namespaces/updates">
 <channel><title>Feed</title>
  <item>
   <title>Version 1.3.0</title>
   <zq:build> 5 </zq:build>
   <zq:displayVersion>1.3.0</zq:displayVersion>
   <zq:minimumSystemVersion>11</zq:minimumSystemVersion>
   <zq:releaseNotesLink>notes/1.3.0.html</zq:releaseNotesLink>
   <zq:critical/>
   <description><![CDATA[<p>Faster start.</p>]]></description>
   <enclosure url="zq-5.tar.gz" length="1234" type="application/gzip" zq:ed25519Signature="c2ln"/>
   <other>ignored</other>
  </item>
 </channel>
</rss>)";
    const auto items = appcast::parse(xml, kFeed);
    ASSERT_TRUE(items.hasValue());
    ASSERT_EQ(items.value().size(), 1u);
    const AppcastItem &it = items.value().front();
    EXPECT_EQ(it.title, "Version 1.3.0");
    EXPECT_EQ(it.versionString, "5");
    EXPECT_EQ(it.displayVersionString, "1.3.0");
    EXPECT_EQ(it.minimumSystemVersion, "11");
    EXPECT_EQ(it.releaseNotesLink, QUrl("https://updates.example.test/feed/notes/1.3.0.html"));
    EXPECT_TRUE(it.critical);
    EXPECT_EQ(it.description, "<p>Faster start.</p>") << "kept as text, never interpreted";
    EXPECT_EQ(it.enclosureUrl, QUrl("https://updates.example.test/feed/zq-5.tar.gz"));
    EXPECT_EQ(it.enclosureLength, 1234);
    EXPECT_EQ(it.enclosureType, "application/gzip");
    EXPECT_EQ(it.enclosureSignature, "c2ln");
}

TEST(AppcastTest, BrokenFeedsAreErrorsWithOneSentence)
{
    for (const QByteArray &xml :
         {QByteArray(), QByteArray("<html><body>Oops</body></html>"),
          QByteArray("<rss><channel><item><title>x</item></channel></rss>"), QByteArray("<rss version=\"2.0\"></rss>"),
          makeAppcast({item("5", "1.3.0")}) + "<trailing/>", QByteArray("not xml at all")}) {
        const auto result = appcast::parse(xml, kFeed);
        ASSERT_FALSE(result.hasValue()) << xml.constData();
        EXPECT_EQ(result.error().message, "The update feed could not be read.");
    }
    const auto empty = appcast::parse("<rss version=\"2.0\"><channel/></rss>", kFeed);
    ASSERT_TRUE(empty.hasValue());
    EXPECT_TRUE(empty.value().empty()) << "a feed without items is a good feed with nothing new";
}

TEST(AppcastTest, BestItemIsTheNewestUsableNewerBuildThatWasNotSkipped)
{
    auto noSignature = item("9", "2.0.0");
    noSignature.signatureBase64.clear();
    auto plainHttp = item("8", "1.9.0");
    plainHttp.enclosureUrl = QStringLiteral("http://updates.example.test/zq-8.tar.gz");
    auto newerSystem = item("7", "1.8.0");
    newerSystem.minimumSystemVersion = QStringLiteral("13.1");
    auto noLength = item("10", "2.1.0");
    noLength.length = 0;
    auto huge = item("11", "2.2.0");
    huge.length = (qint64(1) << 30) + 1;
    // A version is shown in wrapping labels before anything is verified.
    auto longVersion = item("12", QString(65, u'9'));
    const auto items = parsed({item("3", "1.1.0"), item("5", "1.3.0"), item("6", "1.4.0"), item("6.1", "1.4.1"),
                               noSignature, plainHttp, newerSystem, noLength, huge, longVersion});

    const auto best = appcast::bestItem(items, 4, {}, QStringLiteral("12"));
    ASSERT_TRUE(best);
    EXPECT_EQ(best->displayVersionString, "1.4.0");
    EXPECT_EQ(appcast::bestItem(items, 4, QStringLiteral("6"), QStringLiteral("12"))->displayVersionString, "1.3.0")
        << "the skipped build is passed over, older ones still count";
    EXPECT_EQ(appcast::bestItem(items, 6, {}, QStringLiteral("12")), std::nullopt) << "same build: up to date";
    EXPECT_EQ(appcast::bestItem(items, 4, {}, QStringLiteral("14"))->displayVersionString, "1.8.0")
        << "a system that meets the minimum gets the item";
    EXPECT_EQ(appcast::bestItem(items, 4, {}, QString())->displayVersionString, "1.8.0")
        << "an unknown system version does not hold an item back";
}

TEST(AppcastTest, AMissingDisplayVersionShowsTheBuild)
{
    auto bare = item("5", QString());
    const auto items = parsed({bare});
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items.front().displayVersionString, "5");
}

TEST(AppcastTest, NotesLongerThanAnyRealOnesAreCutWholeCharactersFirst)
{
    constexpr qsizetype maximum = AppcastItem::kMaximumDescriptionLength;
    auto fits = item("5", "1.3.0");
    fits.description = QString(maximum, u'a');
    auto word = item("6", "1.4.0");
    word.description = QString(1'500'000, u'w');
    // A character outside the basic plane straddles the cut.
    auto wide = item("7", "1.5.0");
    wide.description = QString(maximum - 2, u'a') + QString::fromUtf8("\U0001F600\U0001F600");
    const auto items = parsed({fits, word, wide});
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].description, fits.description);
    EXPECT_EQ(items[1].description.size(), maximum);
    EXPECT_EQ(items[1].description, QString(maximum - 1, u'w') + QChar(0x2026));
    EXPECT_EQ(items[2].description, QString(maximum - 2, u'a') + QChar(0x2026)) << "no half character";
}
