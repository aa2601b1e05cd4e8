#pragma once

#include "window/history/HistoryRowFocus.h"

#include <QAccessibleInterface>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QUuid>

namespace zq {

class HistoryPageList;

// What screen readers see of the History list, whose rows are drawn rather than built as widgets: a
// list with one item per row on screen, named with the transcript and its date, and in each item its
// Copy and Delete buttons, which they can press. Objects are made only when a screen reader asks, and
// dropped once their row leaves the screen.
class HistoryListAccessible final : public QAccessibleWidget {
public:
    explicit HistoryListAccessible(HistoryPageList *list);
    ~HistoryListAccessible() override;

    QAccessible::State state() const override;
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *focusChild() const override;

    // The object of a row (or of one of its buttons) at that place of the list.
    QAccessibleInterface *partInterface(int row, HistoryRowPart part) const;

private:
    HistoryPageList *list() const;
    QAccessibleInterface *rowInterface(const QUuid &id) const;
    // Lets go of the rows that left the screen.
    void prune() const;

    mutable QHash<QUuid, QAccessible::Id> m_rows;
};

// Makes Qt describe every History list with HistoryListAccessible. Once per process; later calls do nothing.
void installHistoryListAccessibility();
// Tells screen readers where the list's keyboard focus now stands.
void notifyHistoryFocus(HistoryPageList &list);

} // namespace zq
