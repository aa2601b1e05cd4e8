#include "pipeline/HotkeyTap.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Clocks.h"
#include "runtime/Log.h"
#include "runtime/Settings.h"

#include <optional>

namespace zq {

namespace {

// The stored text of a trigger setting; none when the key holds no text at all.
std::optional<QString> storedText(const rt::Settings &settings, const QString &key)
{
    const std::optional<rt::SettingValue> value = settings.value(key);
    if (!value || !std::holds_alternative<QString>(*value))
        return std::nullopt;
    return std::get<QString>(*value);
}

QString reasonText(platform::EventTap::DisabledReason reason)
{
    switch (reason) {
    case platform::EventTap::DisabledReason::timeout:
        return QStringLiteral("timeout");
    case platform::EventTap::DisabledReason::userInput:
        return QStringLiteral("user_input");
    case platform::EventTap::DisabledReason::connectionLost:
        return QStringLiteral("connection_lost");
    }
    return QStringLiteral("timeout");
}

} // namespace

HotkeyTap::HotkeyTap(platform::EventTap &source, rt::Settings &settings, rt::MainLoop &loop, rt::Clocks &clocks,
                     ActionHandler onAction, DisabledRecorder recordDisabled)
    : m_source(source), m_settings(settings), m_loop(loop), m_clocks(clocks), m_onAction(std::move(onAction)),
      m_recordDisabled(std::move(recordDisabled))
{}

HotkeyTap::~HotkeyTap()
{
    stop();
}

bool HotkeyTap::start()
{
    if (m_running)
        return true;
    const std::uint64_t generation = ++m_generation;
    // The source calls these on its own thread; the work they post runs only while this tap exists.
    auto onEvent = m_lifetime.guard([this, generation](const TriggerEvent &event) { handleEvent(generation, event); });
    auto onDisabled = m_lifetime.guard(
        [this, generation](platform::EventTap::DisabledReason reason) { handleDisabled(generation, reason); });
    auto onRestored = m_lifetime.guard(
        [this, generation](const std::vector<TriggerEvent> &held) { handleRestored(generation, held); });
    platform::EventTap::Handlers handlers;
    handlers.onEvent = [loop = &m_loop, onEvent](const TriggerEvent &event) {
        loop->post([onEvent, event]() mutable { onEvent(event); });
    };
    handlers.onDisabled = [loop = &m_loop, onDisabled](platform::EventTap::DisabledReason reason) {
        loop->post([onDisabled, reason]() mutable { onDisabled(reason); });
    };
    handlers.onRestored = [loop = &m_loop, onRestored](const std::vector<TriggerEvent> &held) {
        loop->post([onRestored, held]() mutable { onRestored(held); });
    };
    if (!m_source.start(std::move(handlers))) {
        qCWarning(lcHotkey) << "hotkey: the global event source could not be started";
        return false;
    }
    m_running = true;
    qCInfo(lcHotkey) << "hotkey: tap started";
    return true;
}

void HotkeyTap::stop()
{
    if (m_running) {
        m_source.stop();
        m_running = false;
        qCInfo(lcHotkey) << "hotkey: tap stopped";
    }
    ++m_generation;
    m_tracker.stop();
}

void HotkeyTap::handleEvent(std::uint64_t generation, const TriggerEvent &event)
{
    if (generation != m_generation || !m_running)
        return;
    // Read anew for every event: a changed trigger takes effect with the next event.
    const std::vector<QString> values =
        triggerValues(storedText(m_settings, keys::triggerKey), storedText(m_settings, keys::secondaryTriggerKey));
    if (event.time.count() != 0) {
        post(m_tracker.handle(event, values));
        return;
    }
    TriggerEvent timed = event;
    timed.time = m_clocks.uptimeNow();
    post(m_tracker.handle(timed, values));
}

void HotkeyTap::handleDisabled(std::uint64_t generation, platform::EventTap::DisabledReason reason)
{
    if (generation != m_generation || !m_running)
        return;
    m_source.enable();
    const QString reasonName = reasonText(reason);
    qCWarning(lcHotkey) << "hotkey: event source disabled, re-enabled; reason" << reasonName;
    if (m_recordDisabled)
        m_recordDisabled(reasonName);
    // A display that went away is no cancel by the user: the take goes on. When the whole display is
    // gone the application's end keeps it; when only this connection broke, the source comes back
    // and tells what is still down.
    if (reason == platform::EventTap::DisabledReason::connectionLost) {
        m_tracker.sourceLost();
        return;
    }
    TriggerEvent disabled;
    disabled.type = reason == platform::EventTap::DisabledReason::userInput ? TriggerEventType::tapDisabledByUserInput
                                                                            : TriggerEventType::tapDisabledByTimeout;
    post(m_tracker.handle(disabled, {}));
}

void HotkeyTap::handleRestored(std::uint64_t generation, const std::vector<TriggerEvent> &held)
{
    if (generation != m_generation || !m_running)
        return;
    std::vector<TriggerAction> actions = m_tracker.sourceRestored(held);
    qCInfo(lcHotkey) << "hotkey: event source back;" << held.size() << "key(s) or button(s) down"
                     << (actions.empty() ? "" : "- the trigger went up meanwhile, the take finishes");
    post(std::move(actions));
}

void HotkeyTap::post(std::vector<TriggerAction> actions)
{
    if (actions.empty())
        return;
    m_loop.post(m_lifetime.guard([this, actions = std::move(actions)] { deliver(actions); }));
}

void HotkeyTap::deliver(const std::vector<TriggerAction> &actions)
{
    for (const TriggerAction action : actions)
        m_onAction(action);
}

} // namespace zq
