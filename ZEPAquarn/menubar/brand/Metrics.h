#pragma once

#include <QMargins>
#include <QRectF>

namespace zq {

// The sizes more than one view draws with, in points. A size only one view uses stays a named
// constant in that view.
struct Metrics {
    // Corner radii: small shapes (buttons, wells, chips, pickers) and cards and tiles.
    static constexpr double kControlRadius = 8;
    static constexpr double kCardRadius = 14;
    // Borders and dividers, and the ring of a focused card or a selected tile.
    static constexpr double kHairline = 1;
    static constexpr double kRingWidth = 2;
    // A control that cannot be used now (a disabled button, a locked tile or swatch).
    static constexpr double kDisabledOpacity = 0.44;

    // The least height of a row: panel rows, banners and the window's sidebar rows.
    static constexpr int kRowHeight = 44;
    // Between cards and between the blocks of a page; between a control and what sits next to it.
    static constexpr int kSpacing = 13;
    static constexpr int kSmallSpacing = 8;

    // A page of the main window: a column at most kPageWidth wide, kPagePadding in from the sides,
    // with kPageBottomPadding below its last block.
    static constexpr int kPageWidth = 760;
    static constexpr int kPagePadding = 25;
    static constexpr int kPageBottomPadding = 57;
    // Around a block of a settings page: a row, a section, the motion gallery, the depth gauge.
    static constexpr QMargins kSettingsBlockMargins{4, 10, 4, 10};
};

// The tray panel's cards, rows and banners.
struct MenuMetrics {
    // The width of the panel's content column.
    static constexpr int kContentWidth = 348;
    // The leading and trailing inset of a row, and the gap after its icon tile.
    static constexpr double kRowInset = 11;
    static constexpr double kIconTileSize = 26;
    // The gap between a row's text and its trailing accessory.
    static constexpr double kAccessoryGap = 8;
    // Between a title and the line under it.
    static constexpr double kLineGap = 2;
    static constexpr double kChevronSize = 11;
};

// The pill's geometry. The motion gallery previews the pill at the same sizes.
struct PillMetrics {
    static constexpr double kHeight = 36;
    // Before the capture is live, and while the bar meter shows.
    static constexpr double kNarrowWidth = 36;
    static constexpr double kWideWidth = 67;
    static constexpr double kMarkSize = 19;
    // How far the mark moves left, and the bar meter sits right, of the centre of a wide pill.
    static constexpr double kMarkShift = 15.4057;
    static constexpr double kBarMeterShift = 13.5;
    static constexpr double kBarMeterHeight = 18;
    static constexpr double kAnimationMeterSize = 22;
};

// `rect` moved in by half of `penWidth` on every side: a stroke of that width drawn on the result
// lies wholly inside `rect`.
constexpr QRectF strokedRect(const QRectF &rect, double penWidth = Metrics::kHairline)
{
    const double half = penWidth / 2;
    return rect.adjusted(half, half, -half, -half);
}

} // namespace zq
