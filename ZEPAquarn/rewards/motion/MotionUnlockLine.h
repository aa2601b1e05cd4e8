#pragma once

#include "menubar/brand/Typography.h"

#include <QLabel>

namespace zq {

// The one-line notice of a newly unlocked listening animation: the small text role in the label's
// text colour, leading, shrinking to 0.85 of its size before it is cut with "…". The text stays
// whole in text() and for accessibility.
class MotionUnlockLine final : public QLabel {
public:
    explicit MotionUnlockLine(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static constexpr TextStyle kStyle = textStyle::small.withColor(Palette::textSecondary);
    static constexpr double kMinimumScale = 0.85;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace zq
