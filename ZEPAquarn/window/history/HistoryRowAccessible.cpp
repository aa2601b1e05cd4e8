#include "window/history/HistoryRowAccessible.h"

#include "window/history/HistoryPageList.h"
#include "window/history/HistoryPageModel.h"

#include <QAccessibleActionInterface>

#include <algorithm>
#include <array>
#include <utility>

namespace zq {

namespace {

// The one place each part's spoken label comes from; Copy reads as its label shows.
QString partName(HistoryPageModel &model, const QUuid &id, HistoryRowPart part)
{
    switch (part) {
    case HistoryRowPart::copy:
        return model.rowCopied(id) ? QStringLiteral("Copied") : QStringLiteral("Copy");
    case HistoryRowPart::remove:
        return QStringLiteral("Delete transcript");
    case HistoryRowPart::row:
        break;
    }
    return {};
}

// Shared by a row and its buttons: the list they belong to and the transcript they stand for.
class RowPartAccessible : public QAccessibleInterface {
public:
    RowPartAccessible(HistoryPageList *list, QUuid id) : m_list(list), m_id(id) {}

    bool isValid() const override { return m_list && row() >= 0; }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_list ? m_list->window()->windowHandle() : nullptr; }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override { return isValid() ? m_list->globalRect(row(), part()) : QRect(); }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        const std::optional<HistoryFocusStop> stop = m_list->focusStop();
        state.focused = m_list->hasFocus() && stop && stop->row == row() && stop->part == part();
        const auto [first, last] = m_list->visibleRows();
        state.offscreen = row() < first || row() > last;
        state.invisible = !m_list->isVisible();
        return state;
    }

protected:
    virtual HistoryRowPart part() const = 0;
    int row() const { return m_list ? m_list->rowIndex(m_id) : -1; }

    QPointer<HistoryPageList> m_list;
    const QUuid m_id;
};

class RowButtonAccessible final : public RowPartAccessible, public QAccessibleActionInterface {
public:
    RowButtonAccessible(HistoryPageList *list, QUuid id, HistoryRowPart part, QAccessibleInterface *row)
        : RowPartAccessible(list, id), m_part(part), m_row(row)
    {}

    QAccessibleInterface *parent() const override { return m_row; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::Button; }

    QString text(QAccessible::Text kind) const override
    {
        if (!isValid() || kind != QAccessible::Name)
            return {};
        return partName(m_list->model(), m_id, m_part);
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }
    void doAction(const QString &name) override
    {
        if (isValid() && name == pressAction())
            m_list->activate(row(), m_part);
    }

protected:
    HistoryRowPart part() const override { return m_part; }

private:
    const HistoryRowPart m_part;
    QAccessibleInterface *const m_row;
};

class RowAccessible final : public RowPartAccessible {
public:
    RowAccessible(HistoryPageList *list, QUuid id)
        : RowPartAccessible(list, id), m_buttons{new RowButtonAccessible(list, id, HistoryRowPart::copy, this),
                                                 new RowButtonAccessible(list, id, HistoryRowPart::remove, this)}
    {
        for (QAccessibleInterface *button : m_buttons)
            QAccessible::registerAccessibleInterface(button);
    }

    ~RowAccessible() override
    {
        for (QAccessibleInterface *button : m_buttons)
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(button));
    }

    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_list.data()); }
    QAccessibleInterface *child(int index) const override
    {
        return index >= 0 && index < static_cast<int>(m_buttons.size()) ? m_buttons[index] : nullptr;
    }
    int childCount() const override { return static_cast<int>(m_buttons.size()); }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (int i = 0; i < static_cast<int>(m_buttons.size()); ++i) {
            if (m_buttons[i] == child)
                return i;
        }
        return -1;
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        for (QAccessibleInterface *button : m_buttons) {
            if (button->rect().contains(x, y))
                return button;
        }
        return nullptr;
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QString text(QAccessible::Text kind) const override
    {
        if (!isValid() || kind != QAccessible::Name)
            return {};
        // The transcript with its time, as the row shows them (the whole transcript, also when cut).
        const HistoryItem &item = m_list->model().rows()[row()];
        return item.text + QStringLiteral(", ") + m_list->model().dateText(item);
    }

    QAccessibleInterface *button(HistoryRowPart part) const
    {
        return part == HistoryRowPart::copy ? m_buttons[0] : m_buttons[1];
    }

protected:
    HistoryRowPart part() const override { return HistoryRowPart::row; }

private:
    const std::array<QAccessibleInterface *, 2> m_buttons;
};

QAccessibleInterface *historyListFactory(const QString &, QObject *object)
{
    if (auto *list = qobject_cast<HistoryPageList *>(object))
        return new HistoryListAccessible(list);
    return nullptr;
}

} // namespace

HistoryListAccessible::HistoryListAccessible(HistoryPageList *list) : QAccessibleWidget(list, QAccessible::List) {}

HistoryListAccessible::~HistoryListAccessible()
{
    for (const QAccessible::Id id : std::as_const(m_rows))
        QAccessible::deleteAccessibleInterface(id);
}

HistoryPageList *HistoryListAccessible::list() const
{
    return static_cast<HistoryPageList *>(widget());
}

QAccessible::State HistoryListAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    // While a row or one of its buttons has the keyboard, that one reads as focused, not the list.
    if (state.focused && list()->focusStop())
        state.focused = false;
    return state;
}

void HistoryListAccessible::prune() const
{
    const auto [first, last] = list()->visibleRows();
    for (auto entry = m_rows.begin(); entry != m_rows.end();) {
        const int row = list()->rowIndex(entry.key());
        if (row < first || row > last) {
            QAccessible::deleteAccessibleInterface(entry.value());
            entry = m_rows.erase(entry);
        } else {
            ++entry;
        }
    }
}

QAccessibleInterface *HistoryListAccessible::rowInterface(const QUuid &id) const
{
    const auto found = m_rows.constFind(id);
    if (found != m_rows.cend())
        return QAccessible::accessibleInterface(found.value());
    auto *row = new RowAccessible(list(), id);
    m_rows.insert(id, QAccessible::registerAccessibleInterface(row));
    return row;
}

int HistoryListAccessible::childCount() const
{
    const auto [first, last] = list()->visibleRows();
    return std::max(0, last - first + 1);
}

QAccessibleInterface *HistoryListAccessible::child(int index) const
{
    prune();
    const auto [first, last] = list()->visibleRows();
    if (index < 0 || first + index > last)
        return nullptr;
    return rowInterface(list()->model().rows()[first + index].id);
}

int HistoryListAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    if (!child || child->role() != QAccessible::ListItem)
        return -1;
    const auto [first, last] = list()->visibleRows();
    for (int row = first; row <= last; ++row) {
        const auto found = m_rows.constFind(list()->model().rows()[row].id);
        if (found != m_rows.cend() && QAccessible::accessibleInterface(found.value()) == child)
            return row - first;
    }
    return -1;
}

QAccessibleInterface *HistoryListAccessible::childAt(int x, int y) const
{
    const auto [first, last] = list()->visibleRows();
    for (int row = first; row <= last; ++row) {
        if (list()->globalRect(row, HistoryRowPart::row).contains(x, y))
            return child(row - first);
    }
    return nullptr;
}

QAccessibleInterface *HistoryListAccessible::partInterface(int row, HistoryRowPart part) const
{
    const auto [first, last] = list()->visibleRows();
    if (row < first || row > last)
        return nullptr;
    prune();
    auto *item = static_cast<RowAccessible *>(rowInterface(list()->model().rows()[row].id));
    return part == HistoryRowPart::row ? item : item->button(part);
}

QAccessibleInterface *HistoryListAccessible::focusChild() const
{
    const std::optional<HistoryFocusStop> stop = list()->focusStop();
    if (!stop || !list()->hasFocus())
        return nullptr;
    return partInterface(stop->row, stop->part);
}

void installHistoryListAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(&historyListFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void notifyHistoryFocus(HistoryPageList &list)
{
    if (!QAccessible::isActive())
        return;
    auto *described = dynamic_cast<HistoryListAccessible *>(QAccessible::queryAccessibleInterface(&list));
    const std::optional<HistoryFocusStop> stop = list.focusStop();
    if (!described || !stop)
        return;
    if (QAccessibleInterface *part = described->partInterface(stop->row, stop->part)) {
        QAccessibleEvent event(part, QAccessible::Focus);
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace zq
