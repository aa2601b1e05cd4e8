#pragma once

#include "runtime/RawValue.h"

#include <QString>

#include <array>
#include <optional>

class QApplication;

namespace zq {

// The user's theme choice, stored under "appearance".
enum class AppAppearance { system, light, dark };

constexpr std::array<RawValueName<AppAppearance>, 3> rawValueNames(AppAppearance)
{
    return {{{AppAppearance::system, "system"}, {AppAppearance::light, "light"}, {AppAppearance::dark, "dark"}}};
}
// How start-up reads the stored text: anything unknown follows the system.
AppAppearance appAppearanceOrSystem(const QString &raw);

// Imposes the appearance on the whole application: the style's own palette for system, a light or
// a dark palette otherwise. Windows that set no palette of their own follow at once.
void applyAppearance(QApplication &application, AppAppearance appearance);

} // namespace zq
