#include "records/StatsFormat.h"

#include <cmath>
#include <limits>

namespace zq::StatsFormat {

QString count(qint64 value, const QLocale &locale)
{
    const QString text = locale.toString(value);
    return text.isEmpty() ? QString::number(value) : text;
}

QString duration(double seconds)
{
    // Truncate toward zero; a value beyond the integer range (or not a number) is clamped first.
    qint64 s = 0;
    if (std::isnan(seconds))
        s = 0;
    else if (seconds >= double(std::numeric_limits<qint64>::max()))
        s = std::numeric_limits<qint64>::max();
    else if (seconds <= double(std::numeric_limits<qint64>::min()))
        s = std::numeric_limits<qint64>::min();
    else
        s = static_cast<qint64>(seconds);

    if (s < 60)
        return QString::number(std::max<qint64>(s, 0)) + QStringLiteral(" s");
    if (s < 3600)
        return QString::number(s / 60) + QStringLiteral(" m");
    return QString::number(s / 3600) + QStringLiteral(" h ") + QString::number((s / 60) % 60) + QStringLiteral(" m");
}

QString ratio(double value)
{
    double scaled = value;
    QString suffix;
    if (value >= 1e9) {
        scaled = value / 1e9;
        suffix = QStringLiteral("B");
    } else if (value >= 1e6) {
        scaled = value / 1e6;
        suffix = QStringLiteral("M");
    } else if (value >= 1000) {
        scaled = value / 1000;
        suffix = QStringLiteral("K");
    }
    // QString::number ignores the user's locale: always a full stop and no grouping.
    QString text = QString::number(scaled, 'f', scaled < 100 ? 1 : 0);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text + suffix + QChar(0x00D7);
}

} // namespace zq::StatsFormat
