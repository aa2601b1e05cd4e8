#include "rewards/stats/StatsLedgerContent.h"

#include "records/StatsFormat.h"
#include "rewards/depth/InviteService.h"

#include <algorithm>
#include <cmath>

namespace zq {

StatsLedgerContent::StatsLedgerContent(const WeekSummary &summary, qint64 typingWPM, const QLocale &locale,
                                       const std::optional<QString> &inviteCode)
    : wordCount(StatsFormat::count(summary.words, locale)),
      weekLabel(QStringLiteral("WEEK ") + QString::number(summary.week.weekOfYear)),
      dailyWords(summary.dailyWords), dayLabels{QStringLiteral("M"), QStringLiteral("T"), QStringLiteral("W"),
                                                QStringLiteral("T"), QStringLiteral("F"), QStringLiteral("S"),
                                                QStringLiteral("S")},
      brand(QStringLiteral("ZEPA QUARN")), website(InviteService::host())
{
    if (inviteCode && !inviteCode->isEmpty())
        website += QStringLiteral("/i/") + *inviteCode;

    const double typed = typingWPM < 1 ? 0.0 : double(summary.words) / double(typingWPM) * 60.0;
    rows.push_back({QStringLiteral("time speaking"), StatsFormat::duration(summary.speaking), false});
    rows.push_back({QStringLiteral("same words, typed"), StatsFormat::duration(typed), false});
    if (typed - summary.speaking > 0)
        rows.push_back({QStringLiteral("reclaimed"), StatsFormat::duration(typed - summary.speaking), true});
}

QString StatsLedgerContent::accessibilityText() const
{
    QStringList parts{weekLabel, wordCount + QStringLiteral(" words spoken")};
    for (const Row &row : rows)
        parts.append(row.label + QLatin1Char(' ') + row.value);
    parts.append(QStringLiteral("Words Monday through Sunday"));
    parts.append(brand);
    parts.append(website);
    return parts.join(QStringLiteral(". "));
}

StatsOrbitComparison::StatsOrbitComparison(const WeekSummary &selected, const WeekSummary &previous)
{
    const QString n = QString::number(previous.week.weekOfYear);
    const qint64 prev = previous.words;
    const qint64 sel = selected.words;
    previousWeekLabel = QStringLiteral("VS WEEK ") + n;

    if (prev < 1) {
        percent = QString(QChar(0x2014));
        dialProgress = 0;
        accessibilityLabel = QStringLiteral("No comparison available versus week ") + n;
        return;
    }

    // Halves round away from zero. Word totals are far below the range where the percentage could
    // overflow an integer, but a damaged store is clamped rather than trusted.
    const double exact = std::round((double(sel) - double(prev)) / double(prev) * 100.0);
    const qint64 p = static_cast<qint64>(std::clamp(exact, -1e15, 1e15));
    if (p >= 1000) {
        percent = StatsFormat::ratio(double(sel) / double(prev));
        dialProgress = 1;
        accessibilityLabel = QString::number(p) + QStringLiteral(" percent more words versus week ") + n;
    } else if (p >= 1) {
        percent = QStringLiteral("+") + QString::number(p) + QStringLiteral("%");
        dialProgress = std::min(double(p) / 100.0, 1.0);
        accessibilityLabel = QString::number(p) + QStringLiteral(" percent more words versus week ") + n;
    } else if (p == 0) {
        percent = QStringLiteral("0%");
        dialProgress = 0;
        accessibilityLabel = QStringLiteral("No change in words versus week ") + n;
    } else {
        percent = QString::number(p) + QStringLiteral("%");
        dialProgress = std::min(double(-p) / 100.0, 1.0);
        accessibilityLabel = QString::number(-p) + QStringLiteral(" percent fewer words versus week ") + n;
    }
}

} // namespace zq
