#pragma once

#include <optional>

namespace zq {

// The places of one History row the keyboard can stand on, in Tab order.
enum class HistoryRowPart { row, copy, remove };

// Where the keyboard stands in the History list: a row (by its place in the list) and a part of it.
struct HistoryFocusStop {
    int row = 0;
    HistoryRowPart part = HistoryRowPart::row;

    friend bool operator==(const HistoryFocusStop &, const HistoryFocusStop &) = default;
};

// Tab and Shift+Tab walk every stop in order (a row, its Copy, its Delete, the next row); the arrows go up
// and down between rows, keeping the part, and left and right between the parts of a row.
enum class HistoryFocusMove { next, previous, up, down, left, right };

// The stop a move leads to in a list of `rowCount` rows. None when Tab or Shift+Tab leaves the list;
// the arrows stop at its ends.
std::optional<HistoryFocusStop> moveHistoryFocus(HistoryFocusStop from, HistoryFocusMove move, int rowCount);

} // namespace zq
