#include "menubar/MenuWeekRecapContent.h"

#include "records/StatsFormat.h"

#include <QStringList>

namespace zq {

QString MenuWeekRecapContent::accessibilityText() const
{
    QStringList pieces;
    for (const MenuWeekRecapLine &line : lines)
        pieces.append(line.value + QLatin1Char(' ') + line.label + QLatin1Char('.'));
    return QStringLiteral("This week, ") + weekLabel + QStringLiteral(". ") + pieces.join(QLatin1Char(' '));
}

MenuWeekRecapContent weekRecapContent(const WeekSummary &summary, qint64 typingWPM, const QLocale &locale)
{
    MenuWeekRecapContent content;
    content.weekLabel = QStringLiteral("WEEK ") + QString::number(summary.week.weekOfYear);
    content.lines.append({StatsFormat::compactWordCount(summary.words, locale), QStringLiteral("words spoken")});
    // A speed of 0 or below means no comparison rather than a division by zero.
    const double typing = typingWPM >= 1 ? double(summary.words) / double(typingWPM) * 60.0 : 0.0;
    const double reclaimed = typing - summary.speaking;
    if (reclaimed > 0)
        content.lines.append({StatsFormat::duration(reclaimed), QStringLiteral("reclaimed")});
    return content;
}

} // namespace zq
