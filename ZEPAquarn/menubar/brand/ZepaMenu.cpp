#include "menubar/brand/ZepaMenu.h"

#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaMenuAccessible.h"

#include <QAccessible>
#include <QAction>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

constexpr qreal kInsetX = 4;
constexpr qreal kHighlightRadius = 5;
constexpr qreal kIconLeft = 10;
constexpr qreal kIconSize = 14;
constexpr qreal kTextLeft = kIconLeft + kIconSize + 6;
constexpr qreal kHeaderLeft = 12;
constexpr qreal kTrailing = 16;
constexpr qreal kBarWidth = 3;
// Between a choice's text and its shortcut.
constexpr qreal kShortcutGap = 24;
constexpr qreal kLabelSize = 12;
constexpr qreal kHeaderSize = 11;
// A wheel notch scrolls three rows, as list views do.
constexpr int kWheelRows = 3;

// Choices in the brand face, as the field shows the current one; section titles small and bold.
QFont labelFont()
{
    return textFont(textStyle::figureValue.withSize(kLabelSize));
}

QFont headerFont()
{
    return textFont(textStyle::small.withSize(kHeaderSize).withWeight(QFont::DemiBold));
}

QRectF rowRectIn(const QRectF &rect, int index, double scroll)
{
    return QRectF(rect.left(), rect.top() + ZepaMenu::kPaddingY + index * ZepaMenu::kRowHeight - scroll, rect.width(),
                  ZepaMenu::kRowHeight);
}

double contentHeight(qsizetype rows)
{
    return 2.0 * ZepaMenu::kPaddingY + double(rows) * ZepaMenu::kRowHeight;
}

} // namespace

ZepaMenu::ZepaMenu(QWidget *parent) : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint)
{
    // Before anything names the menu: Qt keeps the first description it makes of a widget.
    installZepaMenuAccessibility();
    setAttribute(Qt::WA_DeleteOnClose);
    // The field's palette, and with it its scheme, reaches the menu's window too.
    setAttribute(Qt::WA_WindowPropagation);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

QAction *ZepaMenu::addOption(const QString &text, const QIcon &icon)
{
    auto *action = new QAction(icon, text, this);
    addAction(action);
    return action;
}

QAction *ZepaMenu::addSection(const QString &title)
{
    auto *action = new QAction(title, this);
    action->setSeparator(true);
    addAction(action);
    return action;
}

QList<ZepaMenuRow> ZepaMenu::rows() const
{
    QList<ZepaMenuRow> rows;
    for (const QAction *action : actions())
        rows.append({action->text(), action->icon(), action->isSeparator()});
    return rows;
}

QSize ZepaMenu::contentSize() const
{
    const QFontMetricsF label(labelFont());
    const QFontMetricsF header(headerFont());
    qreal width = 0;
    for (const ZepaMenuRow &row : rows()) {
        width = std::max(width, row.header ? kHeaderLeft + header.horizontalAdvance(row.text) + kTrailing
                                           : kTextLeft + label.horizontalAdvance(row.text) + kTrailing);
    }
    return QSize(int(std::ceil(width)), int(contentHeight(actions().size())));
}

QRect ZepaMenu::placement(const QRect &field, const QSize &content, const QRect &screen)
{
    const int width = std::min(std::max(field.width(), content.width()), screen.width() - 2 * kScreenMargin);
    const int cap = int(screen.height() * kHeightShare);
    const int below = screen.bottom() + 1 - kScreenMargin - (field.bottom() + 1 + kGap);
    const int above = field.top() - kGap - (screen.top() + kScreenMargin);
    // At least one row shows, however little room the screen leaves.
    const int least = std::min(content.height(), kRowHeight + 2 * kPaddingY);
    const int wanted = std::min(content.height(), cap);
    int height;
    int y;
    if (wanted <= below || below >= above) {
        height = std::max(least, std::min(wanted, below));
        y = field.bottom() + 1 + kGap;
    } else {
        height = std::max(least, std::min(wanted, above));
        y = field.top() - kGap - height;
    }
    const int x = std::clamp(field.left(), screen.left() + kScreenMargin,
                             std::max(screen.left() + kScreenMargin, screen.right() + 1 - kScreenMargin - width));
    return QRect(x, y, width, height);
}

void ZepaMenu::popup(const QRect &field)
{
    QScreen *screen = QGuiApplication::screenAt(field.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    setGeometry(placement(field, contentSize(), available));
    // The current choice, when there is one, opens in view.
    const QList<QAction *> entries = actions();
    for (int i = 0; i < entries.size(); ++i) {
        if (entries[i]->isChecked()) {
            const double rowTop = kPaddingY + i * kRowHeight;
            setScroll(rowTop - (height() - kRowHeight) / 2.0);
        }
    }
    show();
    raise();
    activateWindow();
    setFocus(Qt::PopupFocusReason);
}

bool ZepaMenu::isChoice(int index) const
{
    const QList<QAction *> entries = actions();
    return index >= 0 && index < entries.size() && !entries[index]->isSeparator() && entries[index]->isEnabled();
}

std::optional<int> ZepaMenu::step(int from, int direction) const
{
    const auto count = int(actions().size());
    for (int i = from + direction; i >= 0 && i < count; i += direction) {
        if (isChoice(i))
            return i;
    }
    return std::nullopt;
}

double ZepaMenu::maximumScroll() const
{
    return std::max(0.0, contentHeight(actions().size()) - height());
}

void ZepaMenu::setScroll(double scroll)
{
    m_scroll = std::clamp(scroll, 0.0, maximumScroll());
    update();
}

void ZepaMenu::setHighlighted(std::optional<int> index)
{
    update();
    if (index == m_highlighted)
        return;
    m_highlighted = index;
    if (m_highlighted && QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(*m_highlighted);
        QAccessible::updateAccessibility(&event);
    }
}

void ZepaMenu::highlight(std::optional<int> index)
{
    if (index && !isChoice(*index))
        index.reset();
    if (index) {
        const double top = kPaddingY + *index * kRowHeight;
        // Scrolling up to a section's first choice brings its title along.
        const bool titled = *index > 0 && actions().at(*index - 1)->isSeparator();
        if (top - m_scroll < kPaddingY)
            setScroll(top - kPaddingY - (titled ? kRowHeight : 0));
        else if (top + kRowHeight - m_scroll > height() - kPaddingY)
            setScroll(top + kRowHeight - height() + kPaddingY);
    }
    // In view before a screen reader asks where it is.
    setHighlighted(index);
}

QRect ZepaMenu::rowRect(int index) const
{
    return rowRectIn(QRectF(rect()), index, m_scroll).toRect();
}

std::optional<int> ZepaMenu::rowAt(QPointF position) const
{
    if (!rect().contains(position.toPoint()))
        return std::nullopt;
    const double offset = position.y() + m_scroll - kPaddingY;
    if (offset < 0)
        return std::nullopt;
    const int index = int(offset / kRowHeight);
    if (index >= actions().size())
        return std::nullopt;
    return index;
}

void ZepaMenu::choose(int index)
{
    if (!isChoice(index))
        return;
    QAction *action = actions().at(index);
    close();
    action->trigger();
}

void ZepaMenu::paint(QPainter &painter, const QRectF &rect, const ZepaMenuLook &look)
{
    const ColorScheme scheme = look.scheme;
    painter.save();
    paintFrame(painter, rect, scheme);
    const QRectF inner = rect.adjusted(1, 1, -1, -1);
    painter.setClipRect(inner);
    painter.setRenderHint(QPainter::Antialiasing);

    const QFont header = headerFont();
    for (int i = 0; i < look.rows.size(); ++i) {
        const QRectF row = rowRectIn(rect, i, look.scroll);
        if (!row.intersects(inner))
            continue;
        const ZepaMenuRow &entry = look.rows[i];
        if (entry.header) {
            painter.setFont(header);
            painter.setPen(Palette::color(Palette::textTertiary, scheme));
            painter.drawText(row.adjusted(kHeaderLeft, 0, -kTrailing, 0), Qt::AlignLeft | Qt::AlignVCenter, entry.text);
            continue;
        }
        paintRow(painter, row, entry, {look.highlighted == i}, scheme);
    }

    // A thin bar says how much more there is, where the rows scroll.
    const double content = contentHeight(look.rows.size());
    if (content > rect.height()) {
        const double track = inner.height() - 4;
        const double length = std::max(16.0, track * rect.height() / content);
        const double top = inner.top() + 2 + (track - length) * look.scroll / (content - rect.height());
        QColor bar = Palette::color(Palette::textTertiary, scheme);
        bar.setAlphaF(0.6f * bar.alphaF());
        QPainterPath thumb;
        thumb.addRoundedRect(QRectF(inner.right() - kBarWidth - 2, top, kBarWidth, length), kBarWidth / 2,
                             kBarWidth / 2);
        painter.fillPath(thumb, bar);
    }
    painter.restore();
}

void ZepaMenu::paintFrame(QPainter &painter, const QRectF &rect, ColorScheme scheme)
{
    painter.save();
    painter.fillRect(rect, Palette::color(Palette::surfaceRaised, scheme));
    painter.setPen(QPen(Palette::color(Palette::hairline, scheme), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0.5, 0.5, -0.5, -0.5));
    painter.restore();
}

void ZepaMenu::paintRow(QPainter &painter, const QRectF &row, const ZepaMenuRow &entry, const RowState &state,
                        ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // A disabled choice never wears the highlight.
    if (state.highlighted && state.enabled) {
        QPainterPath fill;
        fill.addRoundedRect(row.adjusted(kInsetX, 1, -kInsetX, -1), kHighlightRadius, kHighlightRadius);
        painter.fillPath(fill, Palette::color(Palette::controlHover, scheme));
    }
    if (!entry.icon.isNull()) {
        const QRectF icon(row.left() + kIconLeft, row.center().y() - kIconSize / 2, kIconSize, kIconSize);
        entry.icon.paint(&painter, icon.toAlignedRect(), Qt::AlignCenter,
                         state.enabled ? QIcon::Normal : QIcon::Disabled);
    }
    const QFont label = labelFont();
    const QFontMetricsF labelMetrics(label);
    QRectF text = row.adjusted(kTextLeft, 0, -kTrailing, 0);
    if (!state.shortcut.isEmpty()) {
        painter.setFont(label);
        painter.setPen(Palette::color(Palette::textTertiary, scheme));
        painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter, state.shortcut);
        text.setRight(text.right() - labelMetrics.horizontalAdvance(state.shortcut) - kShortcutGap);
    }
    painter.setFont(label);
    painter.setPen(Palette::color(state.enabled ? Palette::textPrimary : Palette::textTertiary, scheme));
    // Plain text, whatever it holds: device names come from outside.
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                     labelMetrics.elidedText(entry.text, Qt::ElideRight, text.width()));
    painter.restore();
}

qreal ZepaMenu::rowWidth(const QString &text, const QString &shortcut)
{
    const QFontMetricsF metrics(labelFont());
    const qreal shortcutWidth = shortcut.isEmpty() ? 0 : metrics.horizontalAdvance(shortcut) + kShortcutGap;
    return std::ceil(kTextLeft + metrics.horizontalAdvance(text) + shortcutWidth + kTrailing);
}

void ZepaMenu::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paint(painter, QRectF(rect()), {rows(), m_highlighted, m_scroll, colorSchemeOf(*this)});
}

void ZepaMenu::keyPressEvent(QKeyEvent *event)
{
    const auto count = int(actions().size());
    // With nothing highlighted the keys start from the current choice.
    int from = -1;
    if (m_highlighted) {
        from = *m_highlighted;
    } else {
        const QList<QAction *> entries = actions();
        for (int i = 0; i < count; ++i)
            if (entries[i]->isChecked())
                from = i;
    }
    const int page = std::max(1, height() / kRowHeight - 1);
    switch (event->key()) {
    case Qt::Key_Down:
        if (!m_highlighted && isChoice(from))
            highlight(from);
        else if (const auto next = step(from, 1))
            highlight(next);
        return;
    case Qt::Key_Up:
        if (!m_highlighted && isChoice(from))
            highlight(from);
        else if (const auto previous = step(from < 0 ? count : from, -1))
            highlight(previous);
        return;
    case Qt::Key_Home:
        highlight(step(-1, 1));
        return;
    case Qt::Key_End:
        highlight(step(count, -1));
        return;
    case Qt::Key_PageDown:
        highlight(step(std::min(count, std::max(from, 0) + page) - 1, 1).value_or(step(count, -1).value_or(-1)));
        return;
    case Qt::Key_PageUp:
        highlight(step(std::max(-1, from - page) + 1, -1).value_or(step(-1, 1).value_or(-1)));
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (m_highlighted)
            choose(*m_highlighted);
        return;
    case Qt::Key_Escape:
        close();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void ZepaMenu::mouseMoveEvent(QMouseEvent *event)
{
    const auto row = rowAt(event->position());
    if (row != m_highlighted && (!row || isChoice(*row)))
        setHighlighted(row);
}

void ZepaMenu::mouseReleaseEvent(QMouseEvent *event)
{
    // The release of the press that opened the menu lands outside its rows and does nothing.
    if (event->button() != Qt::LeftButton)
        return;
    if (const auto row = rowAt(event->position()); row && isChoice(*row))
        choose(*row);
}

void ZepaMenu::wheelEvent(QWheelEvent *event)
{
    setScroll(m_scroll - event->angleDelta().y() / 120.0 * kWheelRows * kRowHeight);
    event->accept();
}

void ZepaMenu::leaveEvent(QEvent *event)
{
    setHighlighted(std::nullopt);
    QWidget::leaveEvent(event);
}

void ZepaMenu::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    emit opened();
}

void ZepaMenu::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    emit closed();
}

} // namespace zq
