#pragma once

#include <QPainterPath>
#include <QStringView>

namespace zq {

// Reads the subset of SVG path data the brand artwork uses: M, L, H, V, C and Z, absolute (upper
// case) or relative (lower case). Numbers that cannot be read are dropped; an odd last coordinate of
// M or L counts as 0; an incomplete C group is ignored; any other command letter is ignored.
QPainterPath parsePathData(QStringView data);

} // namespace zq
