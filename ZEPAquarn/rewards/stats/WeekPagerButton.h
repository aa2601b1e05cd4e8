#pragma once

#include <QAbstractButton>

namespace zq {

// The week pager's round buttons: a chevron in a 28-point circle, dimmed while disabled.
class WeekPagerButton final : public QAbstractButton {
public:
    WeekPagerButton(bool pointsLeft, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_pointsLeft;
};

} // namespace zq
