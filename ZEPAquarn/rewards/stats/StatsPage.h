#pragma once

#include "rewards/stats/StatsPageModel.h"

#include <QDateTime>
#include <QWidget>

#include <functional>

class QLabel;
class QScrollArea;
class QSlider;
class QStackedLayout;
class QAbstractButton;

namespace zq {

class EmptyStateView;

// The "stats" page of the main window: the week pager, the ledger card beside the week dial, the copy
// of the card as an image and the typing baseline; a week without takes shows the empty state.
class StatsPage : public QWidget {
    Q_OBJECT
public:
    // `now` tells the week to show when the page comes back on screen (the system clock by default).
    explicit StatsPage(StatsPageModel &model, QWidget *parent = nullptr, std::function<QDateTime()> now = {});

    // For tests and assistive technology: the parts by role.
    QAbstractButton *previousButton() const { return m_previous; }
    QAbstractButton *nextButton() const { return m_next; }
    QAbstractButton *copyButton() const { return m_copy; }
    QSlider *typingSlider() const { return m_slider; }
    QLabel *weekLabel() const { return m_weekLabel; }
    // The line that announces a newly unlocked listening animation; hidden without one.
    QLabel *unlockLine() const { return m_unlockLine; }
    QWidget *ledgerAndOrbit() const { return m_ledgerAndOrbit; }
    bool showsEmptyState() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // The constructor's steps, in order: the title and pager; the cards with the copy row and the
    // typing baseline; the scrolled cards and the empty state they alternate with; the page's column;
    // the controls' actions.
    QWidget *buildHeader();
    QWidget *buildCards();
    QWidget *buildPages(QWidget *cards);
    void layOut(QWidget *header, QWidget *pages);
    void connectControls();
    void refresh();

    StatsPageModel &m_model;
    std::function<QDateTime()> m_now;
    bool m_wasHidden = false;
    QLabel *m_title;
    QLabel *m_subtitle;
    QAbstractButton *m_previous;
    QLabel *m_weekLabel;
    QAbstractButton *m_next;
    QLabel *m_unlockLine;
    QWidget *m_unlockRow;
    QStackedLayout *m_pages;
    EmptyStateView *m_emptyState;
    QScrollArea *m_scroll;
    QWidget *m_ledgerAndOrbit;
    QAbstractButton *m_copy;
    QLabel *m_privacyNote;
    QLabel *m_baselineLabel;
    QSlider *m_slider;
    QLabel *m_baselineValue;
    QWidget *m_baselineRow;
};

} // namespace zq
