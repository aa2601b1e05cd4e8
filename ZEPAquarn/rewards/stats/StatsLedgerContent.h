#pragma once

#include "records/WeekSummary.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace zq {

// Everything the ledger card prints for one week, and its spoken summary.
struct StatsLedgerContent {
    struct Row {
        QString label;
        QString value;
        bool isReclaimed = false; // drawn in the card's accent

        friend bool operator==(const Row &, const Row &) = default;
    };

    QString wordCount;
    // "time speaking", "same words, typed" and, when typing would have taken longer, "reclaimed".
    std::vector<Row> rows;
    QString weekLabel;
    std::array<qint64, 7> dailyWords{}; // Monday first
    QStringList dayLabels;
    QString brand;
    // The invite host, with "/i/" and the code when there is one.
    QString website;

    // `typingWPM` is the user's typing speed; below 1 the typed time counts as nothing.
    StatsLedgerContent(const WeekSummary &summary, qint64 typingWPM, const QLocale &locale,
                       const std::optional<QString> &inviteCode);

    QString accessibilityText() const;
};

// The selected week's words against the week before: the dial's big text, its lit share and the
// sentence that is spoken for it.
struct StatsOrbitComparison {
    QString percent;
    double dialProgress = 0.0; // 0 … 1
    QString previousWeekLabel;
    QString accessibilityLabel;

    StatsOrbitComparison(const WeekSummary &selected, const WeekSummary &previous);
};

} // namespace zq
