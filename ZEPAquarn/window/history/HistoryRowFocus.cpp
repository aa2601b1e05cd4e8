#include "window/history/HistoryRowFocus.h"

#include <algorithm>

namespace zq {

namespace {

constexpr int kParts = 3;

int partIndex(HistoryRowPart part)
{
    return static_cast<int>(part);
}

HistoryRowPart partAt(int index)
{
    return static_cast<HistoryRowPart>(std::clamp(index, 0, kParts - 1));
}

} // namespace

std::optional<HistoryFocusStop> moveHistoryFocus(HistoryFocusStop from, HistoryFocusMove move, int rowCount)
{
    if (rowCount <= 0)
        return std::nullopt;
    const int row = std::clamp(from.row, 0, rowCount - 1);
    switch (move) {
    case HistoryFocusMove::next:
    case HistoryFocusMove::previous: {
        // The stops as one sequence: row × parts.
        const int step = move == HistoryFocusMove::next ? 1 : -1;
        const int place = row * kParts + partIndex(from.part) + step;
        if (place < 0 || place >= rowCount * kParts)
            return std::nullopt;
        return HistoryFocusStop{place / kParts, partAt(place % kParts)};
    }
    case HistoryFocusMove::up:
        return HistoryFocusStop{std::max(0, row - 1), from.part};
    case HistoryFocusMove::down:
        return HistoryFocusStop{std::min(rowCount - 1, row + 1), from.part};
    case HistoryFocusMove::left:
        return HistoryFocusStop{row, partAt(partIndex(from.part) - 1)};
    case HistoryFocusMove::right:
        return HistoryFocusStop{row, partAt(partIndex(from.part) + 1)};
    }
    return std::nullopt;
}

} // namespace zq
