// The History list lays out only the rows near the screen, each from a bounded prefix, and keeps the
// rows the user looks at in place while the ones above them replace their estimated heights.
#include "window/history/HistoryPageList.h"

#include "records/HistoryStore.h"
#include "support/FakePasteboard.h"
#include "support/HistoryFile.h"
#include "support/ViewRender.h"
#include "support/VirtualLoop.h"
#include "window/history/HistoryPage.h"
#include "window/history/HistoryPageModel.h"

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq;

namespace {

class HistoryPageListTest : public ::testing::Test {
protected:
    HistoryPageList &open(const QStringList &texts)
    {
        test::writeHistoryFile(dir.path(), texts);
        store = std::make_unique<HistoryStore>(dir.path(), loop.clocks());
        auto *model = new HistoryPageModel(*store, pasteboard, loop, QLocale(QLocale::English, QLocale::UnitedStates));
        page = std::make_unique<HistoryPage>(*model);
        model->setParent(page.get());
        page->resize(760, 560);
        page->show();
        QApplication::processEvents();
        return *page->list();
    }

    std::vector<int> laidOutRows() const
    {
        std::vector<int> rows;
        for (int index = 0; index < static_cast<int>(page->model().rows().size()); ++index)
            if (page->list()->rowLayout(index))
                rows.push_back(index);
        return rows;
    }

    QTemporaryDir dir;
    test::VirtualLoop loop;
    test::FakePasteboard pasteboard;
    std::unique_ptr<HistoryStore> store;
    std::unique_ptr<HistoryPage> page;
};

TEST_F(HistoryPageListTest, LongTranscriptsAreLaidOutNearTheScreenOnlyAndOnlyInPart)
{
    QStringList texts;
    for (std::uint32_t seed = 0; seed < 80; ++seed)
        texts.append(test::dictationText(100'000, seed));
    HistoryPageList &list = open(texts);
    ASSERT_EQ(page->model().rows().size(), 80);

    const HistoryRowLayout *first = list.rowLayout(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->lines.size(), kHistoryRowMaxLines);
    EXPECT_TRUE(first->truncated);
    EXPECT_LT(first->laidOutLength, 10'000);
    const std::vector<int> atTop = laidOutRows();
    EXPECT_GE(atTop.size(), 3u);
    EXPECT_LT(atTop.size(), 15u);
    EXPECT_FALSE(list.rowLayout(79));

    // Scrolled to the middle: the rows there are laid out and painted; the last ones still are not.
    list.verticalScrollBar()->setValue(qRound(list.rowRect(40).top()));
    const QImage middle = test::renderWidget(list);
    test::saveRender(middle, QStringLiteral("history-list-long-middle-light"));
    ASSERT_TRUE(list.rowLayout(40));
    EXPECT_LT(list.rowLayout(40)->laidOutLength, 10'000);
    EXPECT_GT(list.paintedRows(), 1);
    EXPECT_FALSE(list.rowLayout(79));
    EXPECT_GT(test::inkedPixels(middle.copy(list.rowRect(40).toRect())), 500);

    // A keystroke keeps the layouts made so far and makes none far away.
    page->searchField()->setText(QStringLiteral("q"));
    EXPECT_EQ(page->model().rows().size(), 80);
    EXPECT_FALSE(list.rowLayout(79));
}

TEST_F(HistoryPageListTest, TheRowsOnScreenStayPutWhileTheRowsAboveGetTheirRealHeights)
{
    // Narrow letters, which the estimate takes for far more lines than they fill.
    QStringList texts;
    for (int i = 0; i < 300; ++i)
        texts.append(QString(40 + i % 200, QLatin1Char('i')));
    HistoryPageList &list = open(texts);
    QScrollBar *bar = list.verticalScrollBar();
    bar->setValue(bar->maximum());
    const int anchor = list.rowAt(QPointF(list.viewport()->width() / 2.0, 1));
    ASSERT_GT(anchor, 0);
    ASSERT_FALSE(list.rowLayout(anchor - 100));

    for (int step = 0; step < 6; ++step) {
        const qreal before = list.rowRect(anchor).top();
        bar->setValue(bar->value() - 40);
        EXPECT_NEAR(list.rowRect(anchor).top(), before + 40, 1) << "step " << step;
    }
    // Every row of the list ends where the next begins, whether laid out or estimated.
    for (int index = 1; index < 300; ++index)
        ASSERT_NEAR(list.rowRect(index).top(), list.rowRect(index - 1).bottom(), 1e-6) << index;
}

} // namespace
