#pragma once

#include <QWidget>

namespace zq {

// A row of controls inside a hairline outline with rounded corners.
class OutlinedRow final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace zq
