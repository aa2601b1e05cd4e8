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

// A growth factor for the week comparison: one decimal below 100 of its unit, none above, with a
// K, M or B suffix from a thousand up, then "×": 12.46 reads "12.5×", 1500 reads "1.5K×".
QString ratio(double value);

} // namespace StatsFormat

} // namespace zq
