#pragma once

#include "menubar/brand/Typography.h"

#include <QFont>
#include <QString>

namespace zq {

// One line of text made to fit a width: the role's font shrinks in whole pixels, tracking with it,
// down to `minimumScale` of its size, and only a text that still does not fit is cut with "…".
struct FittedLine {
    QFont font;
    QString text;

    static FittedLine fit(const QString &text, const TextStyle &style, double width, double minimumScale);
};

} // namespace zq
