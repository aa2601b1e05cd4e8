#include "window/history/HistoryPageList.h"

#include "menubar/brand/Metrics.h"
#include "window/history/HistoryPageModel.h"
#include "window/history/HistoryRowAccessible.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QToolTip>
#include <QtMath>

#include <algorithm>
#include <utility>

namespace zq {

HistoryPageList::HistoryPageList(HistoryPageModel &model, QWidget *parent) : QAbstractScrollArea(parent), m_model(model)
{
    // First: Qt keeps the first description it makes of a widget.
    installHistoryListAccessibility();
    setObjectName(QStringLiteral("historyList"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(24);
    setFocusPolicy(Qt::StrongFocus);
    connect(&m_model, &HistoryPageModel::rowsChanged, this, &HistoryPageList::relayout);
    connect(&m_model, &HistoryPageModel::feedbackChanged, viewport(), qOverload<>(&QWidget::update));
    relayout();
}

HistoryPageList::~HistoryPageList() = default;

qreal HistoryPageList::columnWidth() const
{
    return std::max<qreal>(0, std::min<qreal>(kHistoryColumnMaxWidth, viewport()->width() - 2 * Metrics::kPagePadding));
}

qreal HistoryPageList::columnLeft() const
{
    return (viewport()->width() - columnWidth()) / 2;
}

const HistoryRowLayout *HistoryPageList::cachedLayout(const QUuid &id, const QString &text) const
{
    const auto found = m_layouts.constFind(id);
    // The store hands out the same shared strings, so a long transcript compares at once.
    if (found == m_layouts.cend() || !(found->text.isSharedWith(text) || found->text == text))
        return nullptr;
    return &found->layout;
}

void HistoryPageList::relayout()
{
    const qreal width = columnWidth();
    if (width != m_layoutWidth) {
        m_layouts.clear();
        m_layoutWidth = width;
    }
    const QList<HistoryItem> &rows = m_model.rows();
    m_placed.clear();
    m_placed.reserve(rows.size());
    for (const HistoryItem &item : rows) {
        // A copy, not a pointer: inserting into the cache may move what it holds.
        if (const HistoryRowLayout *cached = cachedLayout(item.id, item.text))
            m_placed.push_back({0, *cached, true});
        else
            m_placed.push_back({0, estimateHistoryRow(width, item.text), false});
    }
    placeRows();
    if (m_hovered >= static_cast<int>(m_placed.size()))
        m_hovered = -1;
    // A deleted row hands the keyboard to the row that takes its place (or the one above the end).
    if (const int focused = m_focusId.isNull() ? -1 : rowIndex(m_focusId); focused >= 0) {
        m_focusRow = focused;
    } else if (!m_focusId.isNull()) {
        m_focusId = rows.isEmpty() ? QUuid() : rows[std::min<int>(m_focusRow, rows.size() - 1)].id;
        if (hasFocus())
            notifyHistoryFocus(*this);
    }
    if (!m_selectionId.isNull() && rowIndex(m_selectionId) < 0)
        clearSelection();
    layOutNearRows();
    viewport()->update();
}

void HistoryPageList::placeRows()
{
    qreal top = 0;
    for (Placed &placed : m_placed) {
        placed.top = top;
        top += placed.layout.height;
    }
    m_height = top + Metrics::kPageBottomPadding;
    // A range that moves the value scrolls; the caller lays out what that brings near.
    const QScopedValueRollback placing(m_placing, true);
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, qCeil(m_height) - viewport()->height()));
}

int HistoryPageList::rowIndexAt(qreal contentY) const
{
    const auto after = std::upper_bound(m_placed.begin(), m_placed.end(), contentY,
                                        [](qreal value, const Placed &placed) { return value < placed.top; });
    return std::max(0, static_cast<int>(std::distance(m_placed.begin(), after)) - 1);
}

void HistoryPageList::layOutNearRows()
{
    if (m_placing)
        return;
    const QScopedValueRollback placing(m_placing, true);
    const QList<HistoryItem> &rows = m_model.rows();
    const qreal reach = viewport()->height();
    QScrollBar *bar = verticalScrollBar();
    for (;;) {
        const qreal scroll = bar->value();
        // A list scrolled to its end stays at its end.
        const bool atEnd = bar->value() > 0 && bar->value() == bar->maximum();
        const int anchor = rowIndexAt(scroll);
        qreal shift = 0;
        bool changed = false;
        for (int index = rowIndexAt(scroll - reach);
             index < static_cast<int>(m_placed.size()) && m_placed[index].top < scroll + 2 * reach; ++index) {
            Placed &placed = m_placed[index];
            if (placed.laidOut)
                continue;
            const HistoryItem &item = rows[index];
            const HistoryRowLayout layout = layoutHistoryRow(m_layoutWidth, item.text);
            m_layouts.insert(item.id, Cached{item.text, layout});
            // Rows above the first visible one push it down or up by what their estimate missed.
            if (index < anchor)
                shift += layout.height - placed.layout.height;
            placed.layout = layout;
            placed.laidOut = true;
            changed = true;
        }
        if (!changed)
            break;
        placeRows();
        bar->setValue(atEnd ? bar->maximum() : qRound(scroll + shift));
    }
}

const HistoryRowLayout *HistoryPageList::rowLayout(int index) const
{
    if (index < 0 || index >= static_cast<int>(m_placed.size()) || !m_placed[index].laidOut)
        return nullptr;
    return &m_placed[index].layout;
}

qreal HistoryPageList::contentHeight() const
{
    return m_height;
}

QRectF HistoryPageList::rowRect(int index) const
{
    if (index < 0 || index >= static_cast<int>(m_placed.size()))
        return {};
    const Placed &placed = m_placed[index];
    return QRectF(columnLeft(), placed.top - verticalScrollBar()->value(), placed.layout.width, placed.layout.height);
}

int HistoryPageList::rowAt(QPointF point) const
{
    const qreal y = point.y() + verticalScrollBar()->value();
    const qreal left = columnLeft();
    if (point.x() < left || point.x() > left + columnWidth() || m_placed.empty() || y < 0)
        return -1;
    const int index = rowIndexAt(y);
    return y < m_placed[index].top + m_placed[index].layout.height ? index : -1;
}

void HistoryPageList::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const ColorScheme scheme = colorSchemeOf(*this);
    painter.fillRect(viewport()->rect(), Palette::color(Palette::windowBackground, scheme));
    m_paintedRows = 0;
    const int first = std::max(0, rowAt(QPointF(columnLeft(), 0)));
    const QList<HistoryItem> &rows = m_model.rows();
    for (int index = first; index < static_cast<int>(m_placed.size()); ++index) {
        const QRectF rect = rowRect(index);
        if (rect.top() > viewport()->height())
            break;
        if (rect.bottom() < 0)
            continue;
        const HistoryItem &item = rows[index];
        HistoryRowInputs inputs{item.text, m_model.dateText(item), index == m_hovered, m_model.rowCopied(item.id)};
        if (hasFocus() && m_ringShown && item.id == m_focusId)
            inputs.focus = m_focusPart;
        if (item.id == m_selectionId)
            inputs.selection = m_selection;
        paintHistoryRow(painter, rect, inputs, m_placed[index].layout, scheme);
        ++m_paintedRows;
    }
}

void HistoryPageList::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void HistoryPageList::scrollContentsBy(int, int)
{
    layOutNearRows();
    viewport()->update();
}

void HistoryPageList::setHovered(int row)
{
    if (row == m_hovered)
        return;
    m_hovered = row;
    viewport()->update();
}

std::pair<int, int> HistoryPageList::visibleRows() const
{
    if (m_placed.empty())
        return {0, -1};
    const qreal top = verticalScrollBar()->value();
    const qreal bottom = top + viewport()->height();
    const int first = rowIndexAt(top);
    if (m_placed[first].top >= bottom)
        return {0, -1};
    int last = first;
    while (last + 1 < static_cast<int>(m_placed.size()) && m_placed[last + 1].top < bottom)
        ++last;
    return {first, last};
}

int HistoryPageList::rowIndex(const QUuid &id) const
{
    const QList<HistoryItem> &rows = m_model.rows();
    for (int index = 0; index < rows.size(); ++index) {
        if (rows[index].id == id)
            return index;
    }
    return -1;
}

QRect HistoryPageList::globalRect(int row, HistoryRowPart part) const
{
    if (row < 0 || row >= static_cast<int>(m_placed.size()))
        return {};
    const HistoryRowLayout &layout = m_placed[row].layout;
    const QRectF local = part == HistoryRowPart::row    ? layout.body
                         : part == HistoryRowPart::copy ? layout.copyButton
                                                        : layout.deleteButton;
    const QRectF inViewport = local.translated(rowRect(row).topLeft());
    return QRect(viewport()->mapToGlobal(inViewport.topLeft().toPoint()), inViewport.size().toSize());
}

std::optional<HistoryFocusStop> HistoryPageList::focusStop() const
{
    const int row = rowIndex(m_focusId);
    if (row < 0)
        return std::nullopt;
    return HistoryFocusStop{row, m_focusPart};
}

void HistoryPageList::setFocusStop(HistoryFocusStop stop)
{
    const QList<HistoryItem> &rows = m_model.rows();
    if (rows.isEmpty())
        return;
    m_focusRow = std::clamp<int>(stop.row, 0, rows.size() - 1);
    m_focusId = rows[m_focusRow].id;
    m_focusPart = stop.part;
    m_ringShown = true;
    scrollToRow(m_focusRow);
    viewport()->update();
    if (hasFocus())
        notifyHistoryFocus(*this);
}

void HistoryPageList::scrollToRow(int row)
{
    QScrollBar *bar = verticalScrollBar();
    // Twice: bringing the row near lays out the rows around it, which may move it.
    for (int pass = 0; pass < 2; ++pass) {
        const QRectF rect = rowRect(row);
        if (rect.top() < 0 || rect.height() > viewport()->height())
            bar->setValue(bar->value() + qFloor(rect.top()));
        else if (rect.bottom() > viewport()->height())
            bar->setValue(bar->value() + qCeil(rect.bottom() - viewport()->height()));
    }
}

void HistoryPageList::activate(int row, HistoryRowPart part)
{
    const QList<HistoryItem> &rows = m_model.rows();
    if (row < 0 || row >= rows.size())
        return;
    const QUuid id = rows[row].id;
    // The row itself copies, as its Copy button does: the transcript is what Enter on it means.
    if (part == HistoryRowPart::copy || part == HistoryRowPart::row)
        m_model.copyRow(id);
    else if (part == HistoryRowPart::remove)
        m_model.deleteRow(id);
}

QString HistoryPageList::selectedText() const
{
    const int row = rowIndex(m_selectionId);
    if (row < 0 || m_selection.isEmpty())
        return {};
    return m_model.rows()[row].text.mid(m_selection.start(), m_selection.end() - m_selection.start());
}

void HistoryPageList::clearSelection()
{
    if (m_selectionId.isNull())
        return;
    m_selectionId = QUuid();
    m_selection = {};
    m_selecting = false;
    viewport()->update();
}

std::optional<HistoryRowPart> HistoryPageList::buttonAt(int row, QPointF point) const
{
    const QPointF local = point - rowRect(row).topLeft();
    if (m_placed[row].layout.copyButton.contains(local))
        return HistoryRowPart::copy;
    if (m_placed[row].layout.deleteButton.contains(local))
        return HistoryRowPart::remove;
    return std::nullopt;
}

void HistoryPageList::mousePressEvent(QMouseEvent *event)
{
    const int index = rowAt(event->position());
    if (event->button() != Qt::LeftButton || index < 0) {
        clearSelection();
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const QUuid id = m_model.rows()[index].id;
    const std::optional<HistoryRowPart> button = buttonAt(index, event->position());
    // The keyboard follows the pointer, without scrolling the row under it.
    m_focusId = id;
    m_focusRow = index;
    m_focusPart = button.value_or(HistoryRowPart::row);
    m_ringShown = false;
    clearSelection();
    if (button) {
        m_pressed = std::make_pair(id, *button);
    } else if (const HistoryRowLayout *layout = rowLayout(index)) {
        const QPointF local = event->position() - rowRect(index).topLeft();
        if (layout->text.contains(local)) {
            const qsizetype offset = historyTextOffsetAt(*layout, local);
            m_selectionId = id;
            m_selection = {offset, offset};
            m_selecting = true;
        }
    }
    setFocus(Qt::MouseFocusReason);
    viewport()->update();
    if (hasFocus())
        notifyHistoryFocus(*this);
}

void HistoryPageList::mouseMoveEvent(QMouseEvent *event)
{
    const int index = rowAt(event->position());
    setHovered(index);
    if (m_selecting && (event->buttons() & Qt::LeftButton)) {
        const int row = rowIndex(m_selectionId);
        if (const HistoryRowLayout *layout = rowLayout(row)) {
            // Past the row's edges the selection runs to the start or the end of what shows.
            m_selection.cursor = historyTextOffsetAt(*layout, event->position() - rowRect(row).topLeft());
            viewport()->update();
        }
    }
    const HistoryRowLayout *layout = rowLayout(index);
    const bool overText = layout && layout->text.contains(event->position() - rowRect(index).topLeft());
    const Qt::CursorShape shape = overText || m_selecting ? Qt::IBeamCursor : Qt::ArrowCursor;
    if (viewport()->cursor().shape() != shape)
        viewport()->setCursor(shape);
    QAbstractScrollArea::mouseMoveEvent(event);
}

void HistoryPageList::leaveEvent(QEvent *event)
{
    setHovered(-1);
    QAbstractScrollArea::leaveEvent(event);
}

void HistoryPageList::mouseReleaseEvent(QMouseEvent *event)
{
    // A dragged selection is offered as the primary selection, for a middle click elsewhere.
    if (std::exchange(m_selecting, false) && !m_selection.isEmpty()) {
        QClipboard *clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection())
            clipboard->setText(selectedText(), QClipboard::Selection);
    }
    const auto pressed = std::exchange(m_pressed, std::nullopt);
    const int index = rowAt(event->position());
    if (event->button() != Qt::LeftButton || index < 0 || !pressed) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    // A click runs the button it went down and came up on.
    if (m_model.rows()[index].id == pressed->first && buttonAt(index, event->position()) == pressed->second)
        activate(index, pressed->second);
}

void HistoryPageList::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        if (!m_selection.isEmpty())
            m_model.copyText(selectedText());
        return;
    }
    const int rowCount = static_cast<int>(m_model.rows().size());
    const std::optional<HistoryFocusStop> stop = focusStop();
    const auto move = [&](HistoryFocusMove direction) {
        if (const auto moved =
                moveHistoryFocus(stop.value_or(HistoryFocusStop{visibleRows().first}), direction, rowCount))
            setFocusStop(*moved);
    };
    switch (event->key()) {
    case Qt::Key_Up:
        return move(HistoryFocusMove::up);
    case Qt::Key_Down:
        return move(HistoryFocusMove::down);
    case Qt::Key_Left:
        return move(HistoryFocusMove::left);
    case Qt::Key_Right:
        return move(HistoryFocusMove::right);
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (stop)
            activate(stop->row, stop->part);
        return;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (stop)
            activate(stop->row, HistoryRowPart::remove);
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

bool HistoryPageList::focusNextPrevChild(bool next)
{
    if (const std::optional<HistoryFocusStop> stop = focusStop(); stop && hasFocus()) {
        const auto moved = moveHistoryFocus(*stop, next ? HistoryFocusMove::next : HistoryFocusMove::previous,
                                            static_cast<int>(m_model.rows().size()));
        if (moved) {
            setFocusStop(*moved);
            return true;
        }
    }
    return QAbstractScrollArea::focusNextPrevChild(next);
}

void HistoryPageList::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    const auto [first, last] = visibleRows();
    // Tab comes in at the top of what shows, Shift+Tab at the bottom; the pointer has set its own stop.
    if (first <= last && event->reason() == Qt::BacktabFocusReason)
        setFocusStop({last, HistoryRowPart::remove});
    else if (first <= last && (event->reason() == Qt::TabFocusReason || !focusStop()))
        setFocusStop({first, HistoryRowPart::row});
    else if (focusStop())
        notifyHistoryFocus(*this);
    viewport()->update();
}

void HistoryPageList::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void HistoryPageList::contextMenuEvent(QContextMenuEvent *event)
{
    const int index = rowAt(event->pos());
    if (index < 0)
        return;
    const QUuid id = m_model.rows()[index].id;
    QMenu menu(this);
    QAction *copy = menu.addAction(QStringLiteral("Copy"));
    QAction *remove = menu.addAction(QStringLiteral("Delete"));
    QAction *chosen = menu.exec(event->globalPos());
    // The model is asked again by id: the rows may have changed while the menu was open.
    if (chosen == copy)
        m_model.copyRow(id);
    else if (chosen == remove)
        m_model.deleteRow(id);
}

bool HistoryPageList::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const int index = rowAt(help->pos());
        if (index >= 0 && m_placed[index].layout.deleteButton.contains(help->pos() - rowRect(index).topLeft()))
            QToolTip::showText(help->globalPos(), QStringLiteral("Delete transcript"), viewport());
        else
            QToolTip::hideText();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

} // namespace zq
