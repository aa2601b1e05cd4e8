#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace zq {

// One case of an enumeration beside the text that stands for it in settings, stored files and
// diagnostics.
template <typename E>
struct RawValueName {
    E value;
    const char *raw; // ASCII
};

// Every enumeration stored as text declares one table, found by argument-dependent lookup:
//
//     constexpr std::array<RawValueName<Colorway>, 6> rawValueNames(Colorway) { return {{...}}; }
//
// The two templates below are the only conversions; these live in namespace zq (not rt) so that the
// enumerations of every folder find them unqualified.
template <typename E>
concept HasRawValueNames = requires(E value)
{
    rawValueNames(value);
};

// The stored text of `value`; empty for a value outside the table.
template <HasRawValueNames E>
QString rawValue(E value)
{
    for (const auto &[candidate, raw] : rawValueNames(value)) {
        if (candidate == value)
            return QString::fromLatin1(raw);
    }
    return {};
}

// The case whose stored text is exactly `raw` (case-sensitive, whole text); none for any other text.
template <HasRawValueNames E>
std::optional<E> fromRawValue(QStringView raw)
{
    for (const auto &[candidate, name] : rawValueNames(E{})) {
        if (raw == QLatin1StringView(name))
            return candidate;
    }
    return std::nullopt;
}

} // namespace zq
