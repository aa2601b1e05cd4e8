// The History page rendered offscreen in light and dark: empty, results and no match; a few probes.
#include "window/history/HistoryPage.h"

#include "menubar/brand/Text.h"
#include "menubar/brand/ZepaButton.h"
#include "records/HistoryStore.h"
#include "support/FakePasteboard.h"
#include "support/ViewRender.h"
#include "support/VirtualLoop.h"
#include "window/AppAppearance.h"
#include "window/history/HistoryPageList.h"
#include "window/history/HistoryPageModel.h"
#include "window/settings/SettingsRows.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace zq;

namespace {

QApplication &guiApplication()
{
    return *qobject_cast<QApplication *>(QCoreApplication::instance());
}

class HistoryPageTest : public ::testing::TestWithParam<AppAppearance> {
protected:
    HistoryPageTest() { applyAppearance(guiApplication(), GetParam()); }
    ~HistoryPageTest() override
    {
        page.reset();
        applyAppearance(guiApplication(), AppAppearance::system);
    }

    ColorScheme scheme() const { return GetParam() == AppAppearance::dark ? ColorScheme::dark : ColorScheme::light; }
    QColor color(Palette::Token token) const { return Palette::color(token, scheme()); }

    HistoryPage &open()
    {
        auto *model = new HistoryPageModel(store, pasteboard, loop, QLocale(QLocale::English, QLocale::UnitedStates));
        page = std::make_unique<HistoryPage>(*model);
        model->setParent(page.get());
        page->resize(760, 560);
        page->show();
        return *page;
    }

    QImage render(const QString &name)
    {
        for (int pass = 0; pass < 3; ++pass)
            QApplication::processEvents();
        const QImage image = test::renderWidget(*page);
        test::saveRender(
            image, name + (GetParam() == AppAppearance::dark ? QStringLiteral("-dark") : QStringLiteral("-light")));
        return image;
    }

    QRectF within(QWidget *widget) const { return QRectF(widget->mapTo(page.get(), QPoint(0, 0)), widget->size()); }

    QTemporaryDir dir;
    test::VirtualLoop loop;
    test::FakePasteboard pasteboard;
    HistoryStore store{dir.path(), loop.clocks()};
    std::unique_ptr<HistoryPage> page;
};

TEST_P(HistoryPageTest, EmptyHistoryShowsTheTileAndDisablesCopyLast)
{
    open();
    const QImage image = render(QStringLiteral("history-empty"));
    ASSERT_TRUE(page->emptyState()->isVisible());
    EXPECT_FALSE(page->list()->isVisible());
    EXPECT_EQ(page->emptyTitle()->text(), QStringLiteral("Your words will land here"));
    EXPECT_EQ(page->countLabel()->text(), QStringLiteral("0 transcripts, stored locally"));
    EXPECT_FALSE(page->copyLastButton()->isEnabled());
    // The symbol's tile, 57 square, in the accent tint with the symbol in the accent.
    QWidget *tile = nullptr;
    for (QWidget *child : page->emptyState()->findChildren<QWidget *>())
        if (child->size() == QSize(57, 57))
            tile = child;
    ASSERT_TRUE(tile);
    const QRectF tileRect = within(tile);
    EXPECT_TRUE(test::sameColor(test::pixelAt(image, tileRect.topLeft() + QPointF(28, 5)),
                                test::over(color(Palette::accentWash), color(Palette::windowBackground)), 4));
    EXPECT_FALSE(test::colorBounds(image.copy(tileRect.toRect()), color(Palette::accent), 40).isEmpty());
    EXPECT_TRUE(test::sameColor(test::pixelAt(image, QPointF(5, 5)), color(Palette::windowBackground)));
}

TEST_P(HistoryPageTest, ResultsListNewestFirstAndARowConfirmsItsCopy)
{
    for (int i = 1; i <= 30; ++i)
        store.add(
            QStringLiteral("Transcript number %1 about the quarterly planning meeting and its follow-ups.").arg(i));
    store.add(QStringLiteral("A long one. ").repeated(60));
    open();
    HistoryPageList *list = page->list();
    ASSERT_TRUE(list->isVisible());
    // Hover the first row and copy the second.
    const QRectF second = list->rowRect(1);
    QMouseEvent move(QEvent::MouseMove, list->rowRect(0).center(),
                     list->viewport()->mapToGlobal(list->rowRect(0).center()), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &move);
    page->model().copyRow(store.items()[1].id);
    const QImage image = render(QStringLiteral("history-results"));

    EXPECT_EQ(page->countLabel()->text(), QStringLiteral("31 transcripts, stored locally"));
    EXPECT_EQ(list->hoveredRow(), 0);
    // Only what is on screen is drawn.
    EXPECT_GT(list->paintedRows(), 2);
    EXPECT_LT(list->paintedRows(), 12);
    // The long transcript is cut to five lines: its row is no taller than five lines and the date.
    EXPECT_LT(list->rowRect(0).height(), 5 * 20 + 60);
    EXPECT_GT(list->rowRect(0).height(), list->rowRect(1).height());
    // The hovered row wears the hover fill; the copied row's button its success look.
    const QPointF listOrigin = within(list->viewport()).topLeft();
    const QPointF hoverProbe = listOrigin + list->rowRect(0).topLeft() + QPointF(4, list->rowRect(0).height() - 6);
    EXPECT_TRUE(test::sameColor(test::pixelAt(image, hoverProbe),
                                test::over(color(Palette::controlHover), color(Palette::windowBackground)), 6));
    const QRectF secondInPage = second.translated(listOrigin);
    const ZepaButtonLook success = zepaButtonLook(ZepaButtonStyle::quiet, true, false, scheme());
    EXPECT_FALSE(test::colorBounds(image.copy(secondInPage.toRect()),
                                   test::over(success.fill, color(Palette::windowBackground)), 8)
                     .isEmpty());

    loop.advance(1200ms);
    EXPECT_FALSE(page->model().rowCopied(store.items()[1].id));
}

TEST_P(HistoryPageTest, AFullHistoryPaintsOnlyTheRowsOnScreenWhereverItIsScrolled)
{
    for (int i = 0; i < HistoryStore::maximumItems; ++i)
        store.add(QStringLiteral("Transcript %1 ").arg(i).repeated(1 + i % 9));
    open();
    HistoryPageList *list = page->list();
    for (const int position : {0, list->verticalScrollBar()->maximum() / 2, list->verticalScrollBar()->maximum()}) {
        list->verticalScrollBar()->setValue(position);
        test::renderWidget(*list);
        EXPECT_GT(list->paintedRows(), 0);
        EXPECT_LT(list->paintedRows(), 20);
    }
    // The last row ends above the bottom padding of the scrolled-down list.
    EXPECT_NEAR(list->rowRect(HistoryStore::maximumItems - 1).bottom(), list->viewport()->height() - 57, 1);
    page->searchField()->setText(QStringLiteral("Transcript 49"));
    test::renderWidget(*list);
    EXPECT_EQ(page->model().rows().size(), 11);
}

TEST_P(HistoryPageTest, NoMatchShowsItsEmptyStateAndClearingBringsTheListBack)
{
    store.add(QStringLiteral("Hello world"));
    open();
    EXPECT_FALSE(page->clearButton()->isVisible());
    // Searched off the main thread: the list stays until the matches come.
    page->model().setMainThreadSearchCharacters(0);
    page->searchField()->setText(QStringLiteral("zebra"));
    EXPECT_TRUE(page->list()->isVisible());
    EXPECT_TRUE(page->clearButton()->isVisible());
    ASSERT_TRUE(loop.runUntil([&] { return !page->model().isSearching(); }));
    const QImage image = render(QStringLiteral("history-no-match"));
    ASSERT_TRUE(page->emptyState()->isVisible());
    EXPECT_EQ(page->emptyTitle()->text(), QStringLiteral("No matching transcripts"));
    EXPECT_TRUE(page->clearButton()->isVisible());
    EXPECT_TRUE(page->copyLastButton()->isEnabled());
    EXPECT_EQ(page->countLabel()->text(), QStringLiteral("1 transcript, stored locally"));
    const QRectF search = within(page->searchField()->parentWidget());
    EXPECT_EQ(search.height(), 34);
    EXPECT_TRUE(test::sameColor(test::pixelAt(image, search.topLeft() + QPointF(search.width() / 2, 3)),
                                test::over(color(Palette::controlFill), color(Palette::windowBackground)), 6));

    page->clearButton()->click();
    EXPECT_TRUE(page->searchField()->text().isEmpty());
    EXPECT_TRUE(page->list()->isVisible());
    EXPECT_FALSE(page->clearButton()->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Appearances, HistoryPageTest, ::testing::Values(AppAppearance::light, AppAppearance::dark),
                         [](const auto &info) {
                             return info.param == AppAppearance::dark ? std::string("Dark") : std::string("Light");
                         });

} // namespace
