#pragma once

#include "records/WeekSummary.h"

#include <QList>
#include <QLocale>
#include <QString>

namespace zq {

// One figure of the weekly recap: the value as shown and the caption under it. The captions of one
// recap differ, so a caption identifies its figure.
struct MenuWeekRecapLine {
    QString value;
    QString label;

    friend bool operator==(const MenuWeekRecapLine &, const MenuWeekRecapLine &) = default;
};

// What the recap card shows: "WEEK n" and one or two figures.
struct MenuWeekRecapContent {
    QString weekLabel;
    QList<MenuWeekRecapLine> lines;

    // The whole card as one sentence for assistive technologies.
    QString accessibilityText() const;

    friend bool operator==(const MenuWeekRecapContent &, const MenuWeekRecapContent &) = default;
};

// The words dictated this week and, when dictating beat typing at `typingWPM`, the time reclaimed.
// Pure.
MenuWeekRecapContent weekRecapContent(const WeekSummary &summary, qint64 typingWPM, const QLocale &locale);

} // namespace zq
