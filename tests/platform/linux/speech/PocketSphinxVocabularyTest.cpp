// How dictionary entries become the words and pronunciations a take's decoder learns.
#include "platform/linux/speech/PocketSphinxVocabulary.h"
#include "platform/linux/speech/EspeakPronouncer.h"

#include <QMap>

#include <gtest/gtest.h>

using namespace zq;
using platform::EspeakPronouncer;
using platform::PocketSphinxVocabulary;
using Word = PocketSphinxVocabulary::Word;

TEST(PocketSphinxVocabularyTest, EspeakSoundsBecomeTheModelsPhones)
{
    struct Row {
        const char *ipa;
        std::optional<QString> phones;
    };
    const Row rows[] = {
        {"z_ˈoːɹ_b_l_æ_t", QStringLiteral("Z AO R B L AE T")},             // r-coloured vowel, stress and length marks
        {"k_j_ˈuː_b_ɚ_n_ˌiː_t_s", QStringLiteral("K Y UW B ER N IY T S")}, // secondary stress
        {"dʒ_ˈʌ_dʒ", QStringLiteral("JH AH JH")},                          // affricates are one phone
        {"j_ˈɪɹ", QStringLiteral("Y IH R")},                               // vowel and r in one symbol
        {"oʊ_b_ɹ_ˈaɪə_n", QStringLiteral("OW B R AY AH N")},               // diphthong then schwa
        {"dʒ_ˈiː_n l_ˈuː_k", QStringLiteral("JH IY N L UW K")},            // two words of one entry
        {"ʔ_ˈʌ_p", QStringLiteral("AH P")},                                // a glottal stop has no phone
        {"ʘ_ˈɑː", std::nullopt},                                           // a sound English has not
        {"", std::nullopt},
    };
    for (const Row &row : rows)
        EXPECT_EQ(EspeakPronouncer::phonesFromIpa(QString::fromUtf8(row.ipa)), row.phones) << row.ipa;

    // The real engine, for a name the model's dictionary lacks and one it has.
    const EspeakPronouncer pronouncer;
    EXPECT_EQ(pronouncer.pronounce(QStringLiteral("Zorblatt")), QStringLiteral("Z AO R B L AE T"));
    EXPECT_EQ(pronouncer.pronounce(QStringLiteral("judge")), QStringLiteral("JH AH JH"));
}

TEST(PocketSphinxVocabularyTest, EntriesBecomeWordsKnownBorrowedDerivedOrSkipped)
{
    // The model's dictionary: lower-case words with alternates.
    const QMap<QString, QStringList> known = {
        {QStringLiteral("kafka"), {QStringLiteral("K AA F K AH"), QStringLiteral("K AE F K AH")}},
        {QStringLiteral("postgres"), {QStringLiteral("P OW S T G R EH S")}},
    };
    QStringList derivedFor;
    auto lookup = [&](const QString &word) { return known.value(word); };
    auto pronounce = [&](const QString &word) -> std::optional<QString> {
        derivedFor << word;
        if (word == QLatin1String("Unsayable"))
            return std::nullopt;
        return QStringLiteral("D EH R AY V D");
    };
    const QString derived = QStringLiteral("D EH R AY V D");

    struct Row {
        const char *name;
        QStringList entries;
        std::vector<Word> words;
    };
    const std::vector<Row> rows = {
        {"known as spelt: weight only", {QStringLiteral("postgres")}, {{QStringLiteral("postgres"), {}}}},
        {"known in another case: borrowed with alternates",
         {QStringLiteral("Kafka")},
         {{QStringLiteral("Kafka"), known.value(QStringLiteral("kafka"))}}},
        {"unknown name: derived", {QStringLiteral("Zorblatt")}, {{QStringLiteral("Zorblatt"), {derived}}}},
        {"multi-word entry: word by word",
         {QStringLiteral("Zoz  Kafka")},
         {{QStringLiteral("Zoz"), {derived}}, {QStringLiteral("Kafka"), known.value(QStringLiteral("kafka"))}}},
        {"apostrophes and hyphens inside a word",
         {QStringLiteral("O'Brien"), QStringLiteral("Jean-Luc")},
         {{QStringLiteral("O'Brien"), {derived}}, {QStringLiteral("Jean-Luc"), {derived}}}},
        {"digits and punctuation: skipped, the rest kept",
         {QStringLiteral("k8s"), QStringLiteral("C++"), QStringLiteral("node.js"), QStringLiteral("R2-D2"),
          QStringLiteral("-dash"), QStringLiteral("postgres")},
         {{QStringLiteral("postgres"), {}}}},
        {"no pronunciation: skipped", {QStringLiteral("Unsayable")}, {}},
        {"repeated words once, in entry order",
         {QStringLiteral("Kafka"), QStringLiteral("postgres Kafka"), QStringLiteral("kafka")},
         {{QStringLiteral("Kafka"), known.value(QStringLiteral("kafka"))},
          {QStringLiteral("postgres"), {}},
          {QStringLiteral("kafka"), {}}}},
        {"empty dictionary", {}, {}},
    };
    for (const Row &row : rows) {
        const auto planned = PocketSphinxVocabulary::plan(row.entries, lookup, pronounce);
        EXPECT_EQ(planned.words, row.words) << row.name;
    }
    // espeak-ng is asked only for words the model's dictionary has in no letter case.
    EXPECT_FALSE(derivedFor.contains(QStringLiteral("Kafka")));
    EXPECT_FALSE(derivedFor.contains(QStringLiteral("postgres")));
    EXPECT_FALSE(derivedFor.contains(QStringLiteral("k8s")));
}
