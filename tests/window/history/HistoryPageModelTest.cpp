// The History page's search, counts, empty states, copies and deletions over a real history store.
#include "window/history/HistoryPageModel.h"

#include "records/HistoryStore.h"
#include "support/FakePasteboard.h"
#include "support/VirtualLoop.h"
#include "window/history/HistoryCopy.h"
#include "window/history/HistoryDate.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace zq;

namespace {

class HistoryPageModelTest : public ::testing::Test {
protected:
    // Added oldest first, so the last one is the newest.
    void add(std::initializer_list<const char *> texts)
    {
        for (const char *text : texts)
            store.add(QString::fromUtf8(text));
    }

    QStringList shown() const
    {
        QStringList texts;
        for (const HistoryItem &item : model.rows())
            texts.append(item.text);
        return texts;
    }

    QUuid idOf(const QString &text) const
    {
        for (const HistoryItem &item : store.items())
            if (item.text == text)
                return item.id;
        return {};
    }

    QTemporaryDir dir;
    test::VirtualLoop loop;
    test::FakePasteboard pasteboard;
    HistoryStore store{dir.path(), loop.clocks()};
    HistoryPageModel model{store, pasteboard, loop, QLocale(QLocale::English, QLocale::UnitedStates)};
};

TEST_F(HistoryPageModelTest, TheCountLineCountsEveryTranscriptWhateverTheSearchShows)
{
    EXPECT_EQ(model.countLine(), QStringLiteral("0 transcripts, stored locally"));
    add({"first"});
    EXPECT_EQ(model.countLine(), QStringLiteral("1 transcript, stored locally"));
    add({"second"});
    EXPECT_EQ(model.countLine(), QStringLiteral("2 transcripts, stored locally"));
    model.setQuery(QStringLiteral("first"));
    EXPECT_EQ(model.rows().size(), 1);
    EXPECT_EQ(model.countLine(), QStringLiteral("2 transcripts, stored locally"));
}

TEST_F(HistoryPageModelTest, SearchTrimsSpacesAndTabsIgnoresCaseAndCountsAccents)
{
    add({"Ship the café menu", "call Bob about the cafe", "Hello world"});
    EXPECT_EQ(shown(), (QStringList{"Hello world", "call Bob about the cafe", "Ship the café menu"}));

    model.setQuery(QStringLiteral(" \tHELLO  "));
    EXPECT_EQ(shown(), QStringList{"Hello world"});
    model.setQuery(QStringLiteral("   "));
    EXPECT_EQ(shown().size(), 3);
    EXPECT_EQ(model.content(), HistoryContent::list);

    // Newest first, and a plain e never matches é.
    model.setQuery(QStringLiteral("cafe"));
    EXPECT_EQ(shown(), QStringList{"call Bob about the cafe"});
    model.setQuery(QString::fromUtf8("CAFÉ"));
    EXPECT_EQ(shown(), QStringList{"Ship the café menu"});

    // The date is never searched.
    model.setQuery(QStringLiteral("2026"));
    EXPECT_EQ(model.content(), HistoryContent::noMatch);
    EXPECT_EQ(historyEmptyState(model.content())->title, QStringLiteral("No matching transcripts"));
    model.setQuery(QString());
    EXPECT_EQ(model.content(), HistoryContent::list);
}

TEST_F(HistoryPageModelTest, AnEmptyHistoryKeepsItsEmptyStateWhileSearching)
{
    EXPECT_EQ(model.content(), HistoryContent::emptyHistory);
    model.setQuery(QStringLiteral("anything"));
    EXPECT_EQ(model.content(), HistoryContent::emptyHistory);
    const auto empty = historyEmptyState(model.content());
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->symbol, QStringLiteral("waveform"));
    EXPECT_EQ(empty->title, QStringLiteral("Your words will land here"));
    EXPECT_FALSE(model.canCopyLatest());
}

TEST_F(HistoryPageModelTest, CopyLastCopiesTheNewestWhateverTheSearchAndConfirmsFor1_2Seconds)
{
    add({"older", "newest"});
    model.setQuery(QStringLiteral("older"));
    model.copyLatest();
    EXPECT_EQ(pasteboard.text(), QStringLiteral("newest"));
    EXPECT_TRUE(model.copiedLatest());
    loop.advance(500ms);
    model.copyLatest();
    // The first copy's reset ends the confirmation 1.2 s after it, not after the second copy.
    loop.advance(690ms);
    EXPECT_TRUE(model.copiedLatest());
    loop.advance(20ms);
    EXPECT_FALSE(model.copiedLatest());
    loop.advance(1s);
    EXPECT_FALSE(model.copiedLatest());
}

TEST_F(HistoryPageModelTest, NothingToCopyLeavesTheClipboardAlone)
{
    model.copyLatest();
    EXPECT_FALSE(model.copiedLatest());
    EXPECT_FALSE(copyHistoryText(pasteboard, std::nullopt));
    EXPECT_FALSE(copyHistoryText(pasteboard, QString()));
    EXPECT_EQ(pasteboard.writeCount(), 0);
    EXPECT_TRUE(copyHistoryText(pasteboard, QStringLiteral("x")));
    EXPECT_EQ(pasteboard.text(), QStringLiteral("x"));
}

TEST_F(HistoryPageModelTest, ARowCopiesItsFullTextAndKeepsItsConfirmationWhenOthersGo)
{
    const QString longText = QStringLiteral("line one\nline two\nline three\nline four\nline five\nline six");
    add({"keep me", longText.toUtf8().constData(), "drop me"});
    const QUuid longId = idOf(longText);
    model.copyRow(longId);
    EXPECT_EQ(pasteboard.text(), longText);
    EXPECT_TRUE(model.rowCopied(longId));
    EXPECT_FALSE(model.rowCopied(idOf(QStringLiteral("keep me"))));

    model.deleteRow(idOf(QStringLiteral("drop me")));
    EXPECT_TRUE(model.rowCopied(longId));
    loop.advance(1200ms);
    EXPECT_FALSE(model.rowCopied(longId));

    // A transcript deleted while it confirms takes its confirmation with it.
    model.copyRow(longId);
    model.deleteRow(longId);
    loop.advance(2s);
    EXPECT_FALSE(model.rowCopied(longId));
}

TEST_F(HistoryPageModelTest, DeletingTheLastMatchOrTheLastTranscriptFallsBackToTheEmptyStates)
{
    add({"alpha", "beta"});
    model.setQuery(QStringLiteral("alpha"));
    int changes = 0;
    QObject::connect(&model, &HistoryPageModel::rowsChanged, [&] { ++changes; });
    model.deleteRow(idOf(QStringLiteral("alpha")));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(model.content(), HistoryContent::noMatch);
    EXPECT_EQ(model.countLine(), QStringLiteral("1 transcript, stored locally"));

    model.setQuery(QString());
    model.deleteRow(idOf(QStringLiteral("beta")));
    EXPECT_EQ(model.content(), HistoryContent::emptyHistory);
    EXPECT_FALSE(model.canCopyLatest());
    // An id that is not there changes nothing.
    model.deleteRow(QUuid::createUuid());
    EXPECT_EQ(model.content(), HistoryContent::emptyHistory);
}

TEST_F(HistoryPageModelTest, ANewTranscriptShowsAtTheTopAtOnce)
{
    add({"first"});
    model.setQuery(QStringLiteral("i"));
    add({"this is new"});
    EXPECT_EQ(shown(), (QStringList{"this is new", "first"}));
    // Typing narrows what an earlier search found and erasing goes back over it, while a transcript
    // that came in between is searched as well.
    model.setQuery(QStringLiteral("fi"));
    EXPECT_EQ(shown(), QStringList{"first"});
    add({"fine"});
    model.setQuery(QStringLiteral("fIn"));
    EXPECT_EQ(shown(), QStringList{"fine"});
    model.setQuery(QStringLiteral("fi"));
    EXPECT_EQ(shown(), (QStringList{"fine", "first"}));
    model.setQuery(QStringLiteral("i"));
    EXPECT_EQ(shown(), (QStringList{"fine", "this is new", "first"}));
}

TEST_F(HistoryPageModelTest, ASearchOffTheMainThreadShowsOnlyTheLatestQuerysMatches)
{
    test::VirtualLoop searches;
    model.setSearchQueue(searches);
    model.setMainThreadSearchCharacters(0);
    add({"alpha one", "beta two", "alpha three"});
    model.setQuery(QStringLiteral("alpha"));
    EXPECT_TRUE(model.isSearching());
    EXPECT_EQ(shown().size(), 3) << "the rows stay until the matches come";
    searches.runUntilIdle();
    // A newer query before the older one's matches arrive: they are dropped.
    model.setQuery(QStringLiteral("beta"));
    loop.runUntilIdle();
    EXPECT_TRUE(model.isSearching());
    EXPECT_EQ(shown().size(), 3);
    searches.runUntilIdle();
    loop.runUntilIdle();
    EXPECT_FALSE(model.isSearching());
    EXPECT_EQ(shown(), QStringList{"beta two"});

    // The history changes during a search: a deleted transcript leaves at once, a new one is searched.
    model.setQuery(QString());
    model.setQuery(QStringLiteral("o"));
    model.deleteRow(idOf(QStringLiteral("beta two")));
    EXPECT_EQ(shown(), (QStringList{"alpha three", "alpha one"}));
    searches.runUntilIdle();
    add({"omega"});
    searches.runUntilIdle();
    loop.runUntilIdle();
    EXPECT_EQ(shown(), (QStringList{"omega", "alpha one"}));
}

TEST_F(HistoryPageModelTest, ALongSearchRunsOnAThreadOfItsOwn)
{
    add({"alpha one", "beta two"});
    model.setMainThreadSearchCharacters(0);
    model.setQuery(QStringLiteral("ONE"));
    ASSERT_TRUE(loop.runUntil([&] { return !model.isSearching(); }));
    EXPECT_EQ(shown(), QStringList{"alpha one"});
    // Erasing back to a query searched before answers at once.
    model.setQuery(QStringLiteral("ONE "));
    EXPECT_FALSE(model.isSearching());
    EXPECT_EQ(shown(), QStringList{"alpha one"});
}

TEST_F(HistoryPageModelTest, DatesFollowTheLocale)
{
    const QDateTime date(QDate(2026, 3, 2), QTime(14, 5));
    EXPECT_EQ(abbreviatedDateTime(date, QLocale(QLocale::English, QLocale::UnitedStates)),
              QStringLiteral("Mar 2, 2026, 2:05 PM"));
    EXPECT_EQ(abbreviatedDateTime(date, QLocale(QLocale::German, QLocale::Germany)),
              QString::fromUtf8("2. März 2026, 14:05"));
}

} // namespace
