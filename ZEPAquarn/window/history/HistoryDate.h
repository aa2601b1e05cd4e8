#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace zq {

// A date as the History page and the incident rows show it: the locale's abbreviated date (month
// name shortened, no weekday) and its short time, in the local time zone.
QString abbreviatedDateTime(const QDateTime &date, const QLocale &locale);

} // namespace zq
