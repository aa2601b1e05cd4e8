// The History list from the keyboard and the pointer: Tab and the arrows walk the rows and their Copy and
// Delete, Enter runs what has the keyboard, Delete and Backspace delete the row; a drag selects part of a
// transcript, which Ctrl+C copies, while the row's Copy still copies all of it.
#include "window/history/HistoryPageList.h"

#include "records/HistoryStore.h"
#include "support/FakePasteboard.h"
#include "support/HistoryFile.h"
#include "support/HistoryTextPoints.h"
#include "support/ViewRender.h"
#include "support/VirtualLoop.h"
#include "window/history/HistoryPage.h"
#include "window/history/HistoryPageModel.h"
#include "window/history/HistoryRowFocus.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace zq;

namespace {

using Part = HistoryRowPart;
using Move = HistoryFocusMove;

TEST(HistoryFocusMoveTest, TabWalksEveryStopAndTheArrowsStopAtTheEnds)
{
    struct Case {
        HistoryFocusStop from;
        Move move;
        int rows;
        std::optional<HistoryFocusStop> to;
    };
    const Case cases[] = {
        {{0, Part::row}, Move::next, 3, HistoryFocusStop{0, Part::copy}},
        {{0, Part::copy}, Move::next, 3, HistoryFocusStop{0, Part::remove}},
        {{0, Part::remove}, Move::next, 3, HistoryFocusStop{1, Part::row}},
        {{2, Part::remove}, Move::next, 3, std::nullopt},  // Tab leaves after the last Delete
        {{0, Part::row}, Move::previous, 3, std::nullopt}, // Shift+Tab leaves before the first row
        {{1, Part::row}, Move::previous, 3, HistoryFocusStop{0, Part::remove}},
        {{1, Part::copy}, Move::down, 3, HistoryFocusStop{2, Part::copy}},
        {{2, Part::copy}, Move::down, 3, HistoryFocusStop{2, Part::copy}},
        {{0, Part::remove}, Move::up, 3, HistoryFocusStop{0, Part::remove}},
        {{1, Part::row}, Move::right, 3, HistoryFocusStop{1, Part::copy}},
        {{1, Part::remove}, Move::right, 3, HistoryFocusStop{1, Part::remove}},
        {{1, Part::row}, Move::left, 3, HistoryFocusStop{1, Part::row}},
        {{7, Part::copy}, Move::up, 3, HistoryFocusStop{1, Part::copy}}, // a row that went is taken as the last
        {{0, Part::row}, Move::down, 0, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "from row " << c.from.row << " part " << static_cast<int>(c.from.part)
                                          << " move " << static_cast<int>(c.move) << " of " << c.rows);
        EXPECT_EQ(moveHistoryFocus(c.from, c.move, c.rows), c.to);
    }
}

class HistoryPageListInputTest : public ::testing::Test {
protected:
    HistoryPageList &open(const QStringList &newestFirst)
    {
        test::writeHistoryFile(dir.path(), newestFirst);
        store = std::make_unique<HistoryStore>(dir.path(), loop.clocks());
        auto *model = new HistoryPageModel(*store, pasteboard, loop, QLocale(QLocale::English, QLocale::UnitedStates));
        page = std::make_unique<HistoryPage>(*model);
        model->setParent(page.get());
        page->resize(760, 560);
        page->show();
        QApplication::setActiveWindow(page.get());
        QApplication::processEvents();
        return *page->list();
    }

    QString rowText(int row) const { return page->model().rows()[row].text; }

    void mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
    {
        QWidget *viewport = page->list()->viewport();
        QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    }

    void drag(QPoint from, QPoint to)
    {
        mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
        for (int step = 1; step <= 4; ++step)
            mouse(QEvent::MouseMove, from + (to - from) * step / 4, Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    }

    QTemporaryDir dir;
    test::VirtualLoop loop;
    test::FakePasteboard pasteboard;
    std::unique_ptr<HistoryStore> store;
    std::unique_ptr<HistoryPage> page;
};

TEST_F(HistoryPageListInputTest, TheKeyboardReachesEachRowsButtonsRunsThemAndDeletesRows)
{
    HistoryPageList &list = open({QStringLiteral("newest words, which the list shows first"),
                                  QStringLiteral("middle words"), QStringLiteral("oldest words")});
    page->searchField()->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(page->searchField(), Qt::Key_Tab);
    ASSERT_TRUE(list.hasFocus()) << "Tab goes from the search field into the list";
    EXPECT_EQ(list.focusStop(), (HistoryFocusStop{0, Part::row}));

    QTest::keyClick(&list, Qt::Key_Tab);
    EXPECT_EQ(list.focusStop(), (HistoryFocusStop{0, Part::copy}));
    QTest::keyClick(&list, Qt::Key_Return);
    EXPECT_EQ(pasteboard.text(), rowText(0)) << "Enter on Copy copies the whole transcript";
    EXPECT_TRUE(page->model().rowCopied(page->model().rows()[0].id));

    QTest::keyClick(&list, Qt::Key_Tab);
    EXPECT_EQ(list.focusStop(), (HistoryFocusStop{0, Part::remove}));
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.focusStop(), (HistoryFocusStop{1, Part::remove})) << "the arrows keep the part";
    QTest::keyClick(&list, Qt::Key_Left);
    QTest::keyClick(&list, Qt::Key_Left);
    EXPECT_EQ(list.focusStop(), (HistoryFocusStop{1, Part::row}));
    QTest::keyClick(&list, Qt::Key_Return);
    EXPECT_EQ(pasteboard.text(), rowText(1)) << "Enter on the row copies it as its Copy does";

    // Delete on a row deletes it; the keyboard stays where it was, on the row that took its place.
    QTest::keyClick(&list, Qt::Key_Delete);
    ASSERT_EQ(page->model().rows().size(), 2);
    EXPECT_EQ(rowText(1), QStringLiteral("oldest words"));
    EXPECT_EQ(list.focusStop(), (HistoryFocusStop{1, Part::row}));
    QTest::keyClick(&list, Qt::Key_Backspace);
    ASSERT_EQ(page->model().rows().size(), 1);
    EXPECT_EQ(list.focusStop(), (HistoryFocusStop{0, Part::row})) << "the last row gone, the one above takes it";

    // The keyboard's place is ringed.
    QTest::keyClick(&list, Qt::Key_Right);
    const QImage frame = test::renderWidget(*list.viewport());
    test::saveRender(frame, QStringLiteral("history-list-keyboard-light"));
    const HistoryRowLayout *layout = list.rowLayout(0);
    ASSERT_TRUE(layout);
    const QPointF copyEdge =
        list.rowRect(0).topLeft() + QPointF(layout->copyButton.center().x(), layout->copyButton.top() + 1);
    EXPECT_TRUE(test::sameColor(test::pixelAt(frame, copyEdge), Palette::color(Palette::focus, ColorScheme::light), 40))
        << qPrintable(test::pixelAt(frame, copyEdge).name());

    // Shift+Tab from the first row leaves the list.
    QTest::keyClick(&list, Qt::Key_Left);
    QTest::keyClick(&list, Qt::Key_Backtab);
    EXPECT_FALSE(list.hasFocus());
}

TEST_F(HistoryPageListInputTest, ADragSelectsWordsThatCtrlCCopiesAndCopyStillCopiesTheWholeRow)
{
    const QString text = QStringLiteral("Send the quarterly draft to Maria before Friday, and ask her to check the "
                                        "numbers on the second page once more before the review with the design team "
                                        "tomorrow morning at nine");
    HistoryPageList &list = open({text, QStringLiteral("an older transcript")});
    ASSERT_EQ(rowText(0), text);
    const HistoryRowLayout *layout = list.rowLayout(0);
    ASSERT_TRUE(layout);
    ASSERT_GE(layout->lines.size(), 2) << "the transcript wraps, so the drag crosses a line";
    // Every line's start points at the characters it shows.
    for (int i = 0; i + 1 < layout->lines.size(); ++i)
        EXPECT_EQ(text.mid(layout->lineStarts[i], layout->lines[i].size()), layout->lines[i]) << "line " << i;

    // From "draft" on the first line to the end of "second" on the next.
    const qsizetype from = text.indexOf(QStringLiteral("draft"));
    const qsizetype to = text.indexOf(QStringLiteral("second")) + 6;
    const auto start = test::historyTextPoint(list, 0, from);
    const auto end = test::historyTextPoint(list, 0, to);
    ASSERT_TRUE(start && end);
    drag(*start, *end);
    EXPECT_EQ(list.selectedText(), text.mid(from, to - from));

    QTest::keySequence(&list, QKeySequence::Copy);
    EXPECT_EQ(pasteboard.text(), text.mid(from, to - from));
    EXPECT_FALSE(page->model().rowCopied(page->model().rows()[0].id))
        << "a selection copies without the row's confirmation";

    const QImage frame = test::renderWidget(*list.viewport());
    test::saveRender(frame, QStringLiteral("history-list-selection-light"));
    // The selected words sit on the accent's tint; a word outside the selection does not.
    QColor selected = Palette::color(Palette::accent, ColorScheme::light);
    selected.setAlphaF(0.3f);
    // The pointer still rests on the row, so the row shows its hover fill.
    ASSERT_EQ(list.hoveredRow(), 0);
    const QColor background = Palette::color(Palette::controlHover, ColorScheme::light);
    // Probed on the first line's top pixel row, which no glyph reaches.
    const int lineTop = qCeil(list.rowRect(0).top() + layout->text.top()) + 1;
    const QPoint insideSelection(start->x() + 3, lineTop);
    EXPECT_TRUE(test::sameColor(test::pixelAt(frame, insideSelection), test::over(selected, background), 6))
        << qPrintable(test::pixelAt(frame, insideSelection).name());
    EXPECT_TRUE(test::sameColor(test::pixelAt(frame, QPoint(start->x() - 30, lineTop)), background, 6));
    EXPECT_TRUE(
        test::sameColor(test::pixelAt(frame, list.rowRect(0).topLeft().toPoint() + QPoint(40, 1)), background, 6))
        << "a row the pointer selects in shows no focus ring";

    // A click elsewhere drops the selection; the row's Copy copies the whole transcript again.
    mouse(QEvent::MouseButtonPress, *start - QPoint(30, 0), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, *start - QPoint(30, 0), Qt::NoButton);
    EXPECT_TRUE(list.selectedText().isEmpty());
    const QPoint copy = (layout->copyButton.center() + list.rowRect(0).topLeft()).toPoint();
    mouse(QEvent::MouseButtonPress, copy, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, copy, Qt::NoButton);
    EXPECT_EQ(pasteboard.text(), text);
}

} // namespace
