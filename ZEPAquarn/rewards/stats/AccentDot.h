#pragma once

#include <QWidget>

namespace zq {

// A 4-point dot in the accent.
class AccentDot final : public QWidget {
public:
    explicit AccentDot(QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace zq
