#include "app/TriggerKeyMigration.h"

#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerBinding.h"
#include "pipeline/TriggerKey.h"
#include "runtime/Settings.h"

namespace zq {

void migrateTriggerKeyToSecondary(rt::Settings &settings)
{
    const auto stored = settings.value(keys::triggerKey);
    if (!stored || !std::holds_alternative<QString>(*stored))
        return;
    const QString primary = std::get<QString>(*stored);
    if (fromRawValue<TriggerKey>(primary))
        return;
    if (!TriggerBinding::fromStorageValue(primary))
        return;
    const auto secondary = settings.value(keys::secondaryTriggerKey);
    if (secondary && std::holds_alternative<QString>(*secondary) && !std::get<QString>(*secondary).isEmpty())
        return;
    settings.setValue(keys::secondaryTriggerKey, primary);
    settings.setValue(keys::triggerKey, QStringLiteral("fn"));
}

} // namespace zq
