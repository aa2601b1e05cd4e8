#pragma once

#include <QLocale>
#include <QString>

namespace zq {

// The number texts of the statistics page, the ledger card and the menu panel's weekly recap, so
// all three print a week the same way.
namespace StatsFormat {

// The count with the locale's digit grouping: 12345 reads "12,345" in English, "12.345" in German.
QString count(qint64 value, const QLocale &locale);

// Whole seconds below a minute ("45 s"), whole minutes below an hour ("12 m"), else hours and
// minutes ("1 h 5 m"); fractions are cut, never rounded, and anything negative reads "0 s".
QString duration(double seconds);

// The short word count of the tray panel's weekly recap: the plain count below 1000, then
// thousands ("1.2k", "999.5k") and from 999 500 on millions ("1M", "2.5M"), with at most one
// decimal rounded half to even (1250 reads "1.2k", 1350 "1.4k") and the locale's decimal sign,
// without grouping. Negative counts read as 0.
QString compactWordCount(qint64 value, const QLocale &locale);

// A growth factor for the week comparison: one decimal below 100 of its unit, none above, with a
// K, M or B suffix from a thousand up, then "×": 12.46 reads "12.5×", 1500 reads "1.5K×".
QString ratio(double value);

} // namespace StatsFormat

} // namespace zq
