// The saved channel estimate: what survives the round trip, and what a damaged or foreign file gives.
#include "platform/linux/speech/PocketSphinxChannelEstimate.h"
#include "support/FakeCaptureCore.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using zq::platform::PocketSphinxChannelEstimate;

namespace {

const QString kModel = QStringLiteral("model-a");
const PocketSphinxChannelEstimate kEstimate{
    kModel, {53.66f, 6.51f, -2.85f, 20.25f, -15.65f, 4.71f, -6.9f, -6.75f, 1.28f, -3.64f, 3.52f, -2.53f, -2.48f}};

} // namespace

TEST(PocketSphinxChannelEstimateTest, RoundTripsThroughTheFileExactly)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("speech-channel.json");
    ASSERT_TRUE(kEstimate.write(path));
    EXPECT_EQ(PocketSphinxChannelEstimate::read(path, kModel, 13), kEstimate);

    // Rewriting replaces the earlier estimate rather than adding to it.
    PocketSphinxChannelEstimate next = kEstimate;
    next.cepstralMean[0] = 40.125f;
    ASSERT_TRUE(next.write(path));
    EXPECT_EQ(PocketSphinxChannelEstimate::read(path, kModel, 13), next);
}

TEST(PocketSphinxChannelEstimateTest, DamagedOrForeignDataGivesNoEstimateAndSaysWhy)
{
    const QByteArray good = kEstimate.encode();
    PocketSphinxChannelEstimate shorter = kEstimate;
    shorter.cepstralMean.pop_back();
    const struct {
        const char *name;
        QByteArray data;
        const char *reason;
    } cases[] = {
        {"empty", QByteArray(), "not a JSON object"},
        {"binary", QByteArray("\x00\xff\x13garbage", 10), "not a JSON object"},
        {"truncated", good.left(good.size() - 9), "not a JSON object"},
        {"an array", QByteArray("[1,2,3]"), "not a JSON object"},
        {"no values", QByteArray(R"({"model":"model-a"})"), "fields missing"},
        {"values not a list", QByteArray(R"({"model":"model-a","cepstralMean":7})"), "fields missing"},
        {"other model", PocketSphinxChannelEstimate{QStringLiteral("model-b"), kEstimate.cepstralMean}.encode(),
         "made by another speech model"},
        {"too few values", shorter.encode(), "wrong number of values"},
        {"a string value", QByteArray(R"({"model":"model-a","cepstralMean":[1,2,3,4,5,6,7,8,9,10,11,12,"x"]})"),
         "a value is not a number"},
        // Real estimates: the energy near 40 (up to about 55 for a loud microphone), the rest
        // within about 20 of zero. Values well beyond empty the next takes.
        {"an absurd value", QByteArray(R"({"model":"model-a","cepstralMean":[40,2,3,4,5,6,7,8,9,10,11,12,1e30]})"),
         "a value is outside what a microphone gives"},
        {"energy far too high", QByteArray(R"({"model":"model-a","cepstralMean":[400,2,3,4,5,6,7,8,9,10,11,12,1]})"),
         "a value is outside what a microphone gives"},
        {"energy far too low", QByteArray(R"({"model":"model-a","cepstralMean":[-60,2,3,4,5,6,7,8,9,10,11,12,1]})"),
         "a value is outside what a microphone gives"},
        {"a shape value far out", QByteArray(R"({"model":"model-a","cepstralMean":[40,2,3,4,5,-95,7,8,9,10,11,12,1]})"),
         "a value is outside what a microphone gives"},
    };
    for (const auto &c : cases) {
        QString why;
        EXPECT_EQ(PocketSphinxChannelEstimate::decode(c.data, kModel, 13, &why), std::nullopt) << c.name;
        EXPECT_EQ(why, QString::fromLatin1(c.reason)) << c.name;
    }
    // A mean that would need more values than the model has is as wrong as one with fewer.
    EXPECT_EQ(PocketSphinxChannelEstimate::decode(good, kModel, 12), std::nullopt);
    EXPECT_EQ(PocketSphinxChannelEstimate::decode(good, kModel, 13), kEstimate);
    // The edges of what is accepted, and the model's own starting values.
    const QByteArray edges(R"({"model":"model-a","cepstralMean":[80,30,-30,0,0,0,0,0,0,0,0,0,0]})");
    EXPECT_NE(PocketSphinxChannelEstimate::decode(edges, kModel, 13), std::nullopt);
    const QByteArray stock(
        R"({"model":"model-a","cepstralMean":[41,-5.29,-0.12,5.09,2.48,-4.07,-1.37,-1.78,-5.08,-2.05,-6.45,-1.42,1.17]})");
    EXPECT_NE(PocketSphinxChannelEstimate::decode(stock, kModel, 13), std::nullopt);
}

TEST(PocketSphinxChannelEstimateTest, ReadingLogsAnUnusableFileButNotAMissingOne)
{
    QTemporaryDir dir;
    zq::test::AudioLogCapture log;
    EXPECT_EQ(PocketSphinxChannelEstimate::read(dir.filePath("none.json"), kModel, 13), std::nullopt);
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();

    const QString path = dir.filePath("speech-channel.json");
    zq::test::writeFile(path, kEstimate.encode().left(20));
    EXPECT_EQ(PocketSphinxChannelEstimate::read(path, kModel, 13), std::nullopt);
    EXPECT_TRUE(log.contains("saved channel estimate ignored (not a JSON object)"));
    EXPECT_FALSE(log.contains("53.66")) << "the file's contents stay out of the log";

    zq::test::writeFile(path, QByteArray(100 * 1024, ' ')); // not something this program wrote
    EXPECT_EQ(PocketSphinxChannelEstimate::read(path, kModel, 13), std::nullopt);
    EXPECT_TRUE(log.contains("saved channel estimate unreadable"));
}
