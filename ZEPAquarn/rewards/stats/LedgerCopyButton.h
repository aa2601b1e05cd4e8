#pragma once

#include <QAbstractButton>

namespace zq {

// The button that copies the ledger card: its label on the accent, in a rounded rectangle 30
// points high, dimmed while disabled.
class LedgerCopyButton final : public QAbstractButton {
public:
    explicit LedgerCopyButton(QWidget *parent);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace zq
