#pragma once

#include "rewards/stats/StatsPageLayout.h"

#include <QWidget>

namespace zq {

class StatsPageModel;

// The ledger card beside (or above) the week dial, in the colorway of the page. Its height follows
// its width: side by side when both fit, stacked otherwise.
class LedgerOrbitView final : public QWidget {
public:
    LedgerOrbitView(StatsPageModel &model, QWidget *parent);

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
