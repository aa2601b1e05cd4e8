#include "rewards/stats/LedgerOrbitView.h"

#include "menubar/brand/Metrics.h"
#include "rewards/stats/LedgerCard.h"
#include "rewards/stats/LedgerOrbitAccessible.h"
#include "rewards/stats/StatsOrbitCard.h"
#include "rewards/stats/StatsPageModel.h"

#include <QPainter>

namespace zq {

LedgerOrbitView::LedgerOrbitView(StatsPageModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    // First: Qt keeps the first description it makes of a widget.
    installLedgerOrbitAccessibility();
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QRectF LedgerOrbitView::ledgerRect() const
{
    return placement(width()).ledger;
}

QRectF LedgerOrbitView::orbitRect() const
{
    return placement(width()).orbit;
}

QString LedgerOrbitView::ledgerAccessibilityText() const
{
    return m_model.ledger(locale()).accessibilityText();
}

QString LedgerOrbitView::orbitAccessibilityLabel() const
{
    return m_model.content().orbit.accessibilityLabel;
}

int LedgerOrbitView::heightForWidth(int width) const
{
    return qCeil(placement(width).size().height());
}

QSize LedgerOrbitView::sizeHint() const
{
    return {Metrics::kPageWidth, heightForWidth(Metrics::kPageWidth)};
}

void LedgerOrbitView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const ColorScheme scheme = colorSchemeOf(*this);
    const StatsPageLayout::LedgerOrbitPlacement placed = placement(width());
    const StatsPageModel::Content content = m_model.content();
    LedgerCard{m_model.ledger(locale()), content.colorway}.paint(painter, placed.ledger, scheme);
    paintStatsOrbitCard(painter, placed.orbit, content.orbit, scheme);
}

StatsPageLayout::LedgerOrbitPlacement LedgerOrbitView::placement(double width) const
{
    const std::size_t rows = m_model.ledger(locale()).rows.size();
    return StatsPageLayout::placeLedgerAndOrbit(width, Metrics::kSpacing, [rows](int part, double) {
        return part == 0 ? LedgerCard::naturalHeight(rows) : statsOrbitCardHeight();
    });
}

} // namespace zq
