#pragma once

#include <QAccessibleWidget>

namespace zq {

class LedgerOrbitView;

// What screen readers see of the drawn ledger and dial cards: each card one element, its drawn parts
// hidden, read as its summary (the ledger card) or its comparison sentence (the dial card).
class LedgerOrbitAccessible final : public QAccessibleWidget {
public:
    explicit LedgerOrbitAccessible(LedgerOrbitView *view);
    ~LedgerOrbitAccessible() override;

    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;

private:
    QAccessibleInterface *m_ledger;
    QAccessibleInterface *m_orbit;
};

// Makes Qt describe every LedgerOrbitView with LedgerOrbitAccessible. Once per process.
void installLedgerOrbitAccessibility();

} // namespace zq
