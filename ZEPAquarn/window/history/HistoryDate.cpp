#include "window/history/HistoryDate.h"

#include <QRegularExpression>

namespace zq {

QString abbreviatedDateTime(const QDateTime &date, const QLocale &locale)
{
    // The locale's long date without its weekday, with the month's short name: "Mar 2, 2026",
    // "2. März 2026". Qt has no abbreviated style of its own.
    QString pattern = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*|\\s*[,.]?\\s*d{4}"));
    pattern.remove(weekday);
    pattern.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    const QDateTime local = date.toLocalTime();
    return locale.toString(local.date(), pattern.trimmed()) + QStringLiteral(", ") +
           locale.toString(local.time(), QLocale::ShortFormat);
}

} // namespace zq
