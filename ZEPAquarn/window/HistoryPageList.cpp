#include "window/HistoryPageList.h"

#include "window/HistoryPageModel.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>

namespace zq {

namespace {

constexpr qreal kMaxColumn = 760;
constexpr qreal kSidePadding = 25;
constexpr qreal kBottomPadding = 57;

} // namespace

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
    return std::max<qreal>(0, std::min(kMaxColumn, viewport()->width() - 2 * kSidePadding));
}

qreal HistoryPageList::columnLeft() const
{
    return (viewport()->width() - columnWidth()) / 2;
}

const HistoryRowLayout &HistoryPageList::layoutFor(const QUuid &id, const QString &text, qreal width)
{
    auto found = m_layouts.find(id);
    if (found == m_layouts.end() || found->text != text || found->layout.width != width)
        found = m_layouts.insert(id, Cached{text, layoutHistoryRow(width, text)});
    return found->layout;
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
    qreal top = 0;
    for (const HistoryItem &item : rows) {
        // A copy, not a pointer: inserting into the cache may move what it holds.
        m_placed.push_back({top, layoutFor(item.id, item.text, width)});
        top += m_placed.back().layout.height;
    }
    m_height = top + kBottomPadding;
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, qCeil(m_height) - viewport()->height()));
    if (m_hovered >= static_cast<int>(m_placed.size()))
        m_hovered = -1;
    viewport()->update();
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
    if (point.x() < left || point.x() > left + columnWidth() || m_placed.empty())
        return -1;
    const auto after = std::upper_bound(m_placed.begin(), m_placed.end(), y,
                                        [](qreal value, const Placed &placed) { return value < placed.top; });
    if (after == m_placed.begin())
        return -1;
    const int index = static_cast<int>(std::distance(m_placed.begin(), after)) - 1;
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
        paintHistoryRow(painter, rect,
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
