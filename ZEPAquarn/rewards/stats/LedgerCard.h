#pragma once

#include "menubar/brand/Palette.h"
#include "pipeline/Colorway.h"
#include "rewards/stats/LedgerExport.h"
#include "rewards/stats/StatsLedgerContent.h"

#include <QRectF>

class QPainter;

namespace zq {

// The shareable card of one week: brand and week, the words spoken, the time rows, a bar per day
// and a footer with the mark and the website. Drawn only from its model, in its colorway; the same
// painter draws the card on the statistics page and in the exported image.
struct LedgerCard {
    StatsLedgerContent model;
    Colorway colorway = Colorway::consensusMint;

    static Palette::Token background(Colorway colorway);
    static Palette::Token accent(Colorway colorway);

    // The height the card's content needs, padding included: the content does not wrap, so only
    // the number of time rows (two, or three when time was reclaimed) changes it.
    static double naturalHeight(std::size_t rowCount);
    // Draws the card filling `rect`, with its content at the top. Colorways with a dark base of their
    // own are drawn with the dark values in either scheme.
    void paint(QPainter &painter, const QRectF &rect, ColorScheme scheme) const;
};

// The exported card: drawn dark whatever the appearance, on the window background, opaque.
class LedgerImageRenderer final : public LedgerPNGRendering {
public:
    std::optional<QByteArray> pngData(const StatsLedgerContent &model, QSizeF size, qreal scale,
                                      Colorway colorway) const override;
};

} // namespace zq
