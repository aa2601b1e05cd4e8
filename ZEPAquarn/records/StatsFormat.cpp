#include "records/StatsFormat.h"

#include <algorithm>
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

QString compactWordCount(qint64 value, const QLocale &locale)
{
    const qint64 m = std::max<qint64>(value, 0);
    if (m < 1000)
        return count(m, locale);
    // Rounded in integers, so a tie is a true tie: 1150 words are 1.15 thousand exactly, which a
    // binary double would hold as 1.1499… and round down.
    const qint64 unit = m < 999500 ? 100 : 100000; // a tenth of a thousand or of a million
    const QString suffix = m < 999500 ? QStringLiteral("k") : QStringLiteral("M");
    qint64 tenths = m / unit;
    const qint64 rest = m % unit;
    if (rest * 2 > unit || (rest * 2 == unit && tenths % 2 == 1))
        ++tenths;
    QLocale plain = locale;
    plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
    QString text = tenths % 10 == 0 ? plain.toString(tenths / 10) : plain.toString(double(tenths) / 10.0, 'f', 1);
    if (text.isEmpty())
        text = QString::number(double(tenths) / 10.0);
    return text + suffix;
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
