#include "pipeline/TriggerReach.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"

#include <QStringList>

#include <algorithm>

namespace zq {

namespace {

std::optional<QString> storedText(const rt::Settings &settings, const char *key)
{
    const std::optional<rt::SettingValue> value = settings.value(QString::fromLatin1(key));
    if (!value || !std::holds_alternative<QString>(*value))
        return std::nullopt;
    return std::get<QString>(*value);
}

bool keyboardHas(const platform::KeyboardMap &keyboard, std::int64_t logicalCode)
{
    return std::find(keyboard.logicalCodes.begin(), keyboard.logicalCodes.end(), logicalCode) !=
           keyboard.logicalCodes.end();
}

} // namespace

bool needsFnKey(const TriggerBinding &binding)
{
    // Fn reaches the trigger only as a flag, so only the preset can wait for it.
    return binding.is(TriggerKey::fn);
}

std::vector<TriggerBinding> triggersSeen(const TriggerBinding &primary, const std::optional<TriggerBinding> &secondary,
                                         bool fnKeyMapped)
{
    std::vector<TriggerBinding> seen;
    for (const std::optional<TriggerBinding> &binding : {std::optional<TriggerBinding>(primary), secondary}) {
        if (binding && (fnKeyMapped || !needsFnKey(*binding)))
            seen.push_back(*binding);
    }
    return seen;
}

std::vector<TriggerBinding> triggersSeen(const rt::Settings &settings, bool fnKeyMapped)
{
    // The tap's own reading: a primary that does not decode acts as Fn.
    const std::vector<QString> values =
        triggerValues(storedText(settings, keys::triggerKey), storedText(settings, keys::secondaryTriggerKey));
    const TriggerBinding primary =
        TriggerBinding::fromStorageValue(values.front()).value_or(TriggerBinding::predefined(TriggerKey::fn));
    const std::optional<TriggerBinding> secondary =
        values.size() > 1 ? TriggerBinding::fromStorageValue(values[1]) : std::nullopt;
    return triggersSeen(primary, secondary, fnKeyMapped);
}

QString triggerNames(const std::vector<TriggerBinding> &triggers)
{
    QStringList names;
    for (const TriggerBinding &trigger : triggers)
        names.append(trigger.displayName());
    return names.join(QStringLiteral(" or "));
}

TriggerKey defaultTriggerKey(const std::optional<platform::KeyboardMap> &keyboard)
{
    if (!keyboard || keyboard->hasFnKey)
        return TriggerKey::fn;
    for (const TriggerKey candidate : {TriggerKey::rightControl, TriggerKey::rightOption, TriggerKey::rightCommand}) {
        if (keyboardHas(*keyboard, *keyCode(candidate)))
            return candidate;
    }
    return TriggerKey::fn;
}

TriggerReach::TriggerReach(rt::Settings &settings, KeyboardReader readKeyboard, QObject *parent)
    : QObject(parent), m_settings(settings), m_readKeyboard(std::move(readKeyboard))
{
    // Without a reader nothing is known about the keyboard, and nothing is flagged.
    m_fnKeyMapped = !m_readKeyboard || [this] {
        const std::optional<platform::KeyboardMap> keyboard = m_readKeyboard();
        return keyboard && keyboard->hasFnKey;
    }();
    connect(&m_settings, &rt::Settings::changed, this, [this](const QString &key) {
        if (key == keys::triggerKey || key == keys::secondaryTriggerKey)
            emit changed();
    });
}

std::vector<TriggerBinding> TriggerReach::seen() const
{
    return triggersSeen(m_settings, m_fnKeyMapped);
}

void TriggerReach::refresh()
{
    if (!m_readKeyboard)
        return;
    const std::optional<platform::KeyboardMap> keyboard = m_readKeyboard();
    const bool mapped = keyboard && keyboard->hasFnKey;
    if (mapped == m_fnKeyMapped)
        return;
    m_fnKeyMapped = mapped;
    emit changed();
}

} // namespace zq
