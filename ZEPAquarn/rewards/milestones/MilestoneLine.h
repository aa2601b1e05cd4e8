#pragma once

#include "menubar/brand/Palette.h"
#include "rewards/milestones/MilestoneStore.h"

#include <QAbstractButton>
#include <QWidget>

namespace zq {

// The one-line note of a milestone with a control that hides such lines for good. It tells its
// owner when it comes on screen, which counts the milestone as shown.
class MilestoneLine : public QWidget {
    Q_OBJECT
public:
    MilestoneLine(QWidget *parent = nullptr);
    void setMilestone(Milestone milestone);
    Milestone milestone() const { return m_milestone; }
    QAbstractButton *dismissButton() const { return m_dismiss; }

    // The milestone's text, naming the invite page on `host`.
    static QString text(Milestone milestone, const QString &host);
    // The line as drawn in `width`: the text, cut only when 0.85 of its size does not fit, and the
    // scale of the 11-point font it is drawn at.
    struct Fit {
        QString text;
        qreal scale = 1;
    };
    static Fit fit(const QString &text, qreal width);
    static void paintText(QPainter &painter, const QRectF &rect, const QString &text, ColorScheme scheme);
    QSize sizeHint() const override;

signals:
    void appeared();
    void dismissRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    Milestone m_milestone = Milestone::hundredTakes;
    QAbstractButton *m_dismiss;
};

} // namespace zq
