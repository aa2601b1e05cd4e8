#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace zq {

class EmptyStateView;
class HistoryPageList;
class HistoryPageModel;
class StyledLabel;
class SymbolView;
class ZepaButton;

// The History page: the title with the count of stored transcripts and "Copy Last", the search
// field, and below them the matching transcripts or an empty state. Follows its model.
class HistoryPage : public QWidget {
    Q_OBJECT
public:
    // Observes the model without owning it; a model made for this page alone is made its child.
    explicit HistoryPage(HistoryPageModel &model, QWidget *parent = nullptr);

    HistoryPageModel &model() const { return m_model; }
    StyledLabel *countLabel() const { return m_count; }
    ZepaButton *copyLastButton() const { return m_copyLast; }
    QLineEdit *searchField() const { return m_search; }
    QToolButton *clearButton() const { return m_clear; }
    HistoryPageList *list() const { return m_list; }
    QWidget *emptyState() const;
    StyledLabel *emptyTitle() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    void paintClearIcon();

    HistoryPageModel &m_model;
    StyledLabel *m_count;
    ZepaButton *m_copyLast;
    QLineEdit *m_search;
    QToolButton *m_clear;
    HistoryPageList *m_list;
    EmptyStateView *m_empty;
};

} // namespace zq
