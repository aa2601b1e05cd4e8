#pragma once

#include "rewards/stats/StatsPageLayout.h"

#include <QWidget>

namespace zq {

class StatsPageModel;

// The ledger card beside (or above) the week dial, in the colorway of the page. Its height follows
// its width: side by side when both fit, stacked otherwise.
// Screen readers see each card as one element (LedgerOrbitAccessible).
class LedgerOrbitView final : public QWidget {
    Q_OBJECT
public:
    LedgerOrbitView(StatsPageModel &model, QWidget *parent);

    QRectF ledgerRect() const;
    QRectF orbitRect() const;
    // What each card reads as.
    QString ledgerAccessibilityText() const;
    QString orbitAccessibilityLabel() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // The card is as tall as the rows the week shows; the dial matches it side by side.
    StatsPageLayout::LedgerOrbitPlacement placement(double width) const;

    StatsPageModel &m_model;
};

} // namespace zq
