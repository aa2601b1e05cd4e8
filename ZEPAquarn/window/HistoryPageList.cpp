#include "window/HistoryPageList.h"

#include "menubar/brand/Metrics.h"
#include "window/HistoryPageModel.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>

namespace zq {

HistoryPageList::HistoryPageList(HistoryPageModel &model, QWidget *parent) : QAbstractScrollArea(parent), m_model(model)
{
    setObjectName(QStringLiteral("historyList"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(24);
    connect(&m_model, &HistoryPageModel::rowsChanged, this, &HistoryPageList::relayout);
    connect(&m_model, &HistoryPageModel::feedbackChanged, viewport(), qOverload<>(&QWidget::update));
    relayout();
}

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
        paintHistoryRow(
            painter, rect,
            HistoryRowInputs{item.text, m_model.dateText(item), index == m_hovered, m_model.rowCopied(item.id)},
            m_placed[index].layout, scheme);
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

void HistoryPageList::mouseMoveEvent(QMouseEvent *event)
{
    setHovered(rowAt(event->position()));
    QAbstractScrollArea::mouseMoveEvent(event);
}

void HistoryPageList::leaveEvent(QEvent *event)
{
    setHovered(-1);
    QAbstractScrollArea::leaveEvent(event);
}

void HistoryPageList::mouseReleaseEvent(QMouseEvent *event)
{
    const int index = rowAt(event->position());
    if (event->button() != Qt::LeftButton || index < 0) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    const QPointF local = event->position() - rowRect(index).topLeft();
    const QUuid id = m_model.rows()[index].id;
    if (m_placed[index].layout.copyButton.contains(local))
        m_model.copyRow(id);
    else if (m_placed[index].layout.deleteButton.contains(local))
        m_model.deleteRow(id);
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
