#pragma once

#include <QString>

#include <optional>

class QApplication;

namespace zq {

// The user's theme choice, stored under "appearance".
enum class AppAppearance { system, light, dark };

QString rawValue(AppAppearance appearance);
// None for any text other than the three raw values (case-sensitive).
std::optional<AppAppearance> appAppearance(const QString &raw);
// How start-up reads the stored text: anything unknown follows the system.
AppAppearance appAppearanceOrSystem(const QString &raw);

// Imposes the appearance on the whole application: the style's own palette for system, a light or
// a dark palette otherwise. Windows that set no palette of their own follow at once.
void apply(QApplication &application, AppAppearance appearance);

} // namespace zq
