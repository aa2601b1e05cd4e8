#include "app/TriggerKeyMigration.h"

#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerBinding.h"
#include "pipeline/TriggerKey.h"
#include "runtime/Settings.h"

namespace zq {

void migrateTriggerKeyToSecondary(rt::Settings &settings)
{
    const QString primaryKey = QString::fromLatin1(keys::triggerKey);
    const QString secondaryKey = QString::fromLatin1(keys::secondaryTriggerKey);

    const auto stored = settings.value(primaryKey);
    if (!stored || !std::holds_alternative<QString>(*stored))
        return;
    const QString primary = std::get<QString>(*stored);
    if (fromRawValue<TriggerKey>(primary))
        return;
    if (!TriggerBinding::fromStorageValue(primary))
        return;
    const auto secondary = settings.value(secondaryKey);
    if (secondary && std::holds_alternative<QString>(*secondary) && !std::get<QString>(*secondary).isEmpty())
        return;
    settings.setValue(secondaryKey, primary);
    settings.setValue(primaryKey, QStringLiteral("fn"));
}

} // namespace zq
