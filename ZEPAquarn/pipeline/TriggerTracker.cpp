#include "pipeline/TriggerTracker.h"

#include <cstdint>

namespace zq {

namespace {

// Triggers pressed and released by flags-changed events: a modifier key, Fn and the right-hand modifiers.
bool isModifierTrigger(const TriggerBinding &binding)
{
    return binding.kind() == TriggerBinding::Kind::modifier || binding.is(TriggerKey::fn) ||
           binding.is(TriggerKey::rightControl) || binding.is(TriggerKey::rightOption) ||
           binding.is(TriggerKey::rightCommand);
}

// Triggers pressed and released by key-down and key-up events.
bool isKeyTrigger(const TriggerBinding &binding)
{
    switch (binding.kind()) {
    case TriggerBinding::Kind::keyboard:
    case TriggerBinding::Kind::shortcut:
        return true;
    case TriggerBinding::Kind::predefined:
        return !isModifierTrigger(binding);
    default:
        return false;
    }
}

// Whether `press`, one of the presses still in effect, keeps `binding` down.
bool keepsDown(const TriggerBinding &binding, const TriggerEvent &press)
{
    switch (press.type) {
    case TriggerEventType::keyDown:
        return isKeyTrigger(binding) && binding.matchesRelease(press);
    case TriggerEventType::flagsChanged:
        return isModifierTrigger(binding) && binding.matchesPress(press) && binding.isHeld(press);
    case TriggerEventType::otherMouseDown:
        return binding.kind() == TriggerBinding::Kind::mouse && binding.matchesRelease(press);
    default:
        return false;
    }
}

bool strokeMatches(const TriggerStroke &stroke, const TriggerEvent &event)
{
    return event.keyCode == stroke.keyCode && (event.flags & ModifierFlag::triggerMask) == stroke.modifiers;
}

// `to - from > limit` without overflow for any pair of times; a time before `from` counts as no gap.
bool gapExceeds(std::chrono::nanoseconds from, std::chrono::nanoseconds to, std::chrono::nanoseconds limit)
{
    if (to <= from)
        return limit.count() < 0;
    const auto gap = static_cast<std::uint64_t>(to.count()) - static_cast<std::uint64_t>(from.count());
    return limit.count() < 0 || gap > static_cast<std::uint64_t>(limit.count());
}

} // namespace

TriggerTracker::TriggerTracker(std::chrono::nanoseconds lockThreshold) : m_logic(lockThreshold) {}

std::vector<TriggerAction> TriggerTracker::handle(const TriggerEvent &event, const std::vector<QString> &triggerValues)
{
    std::vector<Trigger> triggers;
    triggers.reserve(triggerValues.size());
    for (const QString &value : triggerValues) {
        triggers.push_back(Trigger{
            TriggerBinding::fromStorageValue(value).value_or(TriggerBinding::predefined(TriggerKey::fn)), &value});
    }

    switch (event.type) {
    case TriggerEventType::tapDisabledByTimeout:
    case TriggerEventType::tapDisabledByUserInput:
        m_activeTrigger.reset();
        clearMacro();
        return m_logic.cancel();
    case TriggerEventType::keyDown:
        return handleKeyDown(event, triggers);
    case TriggerEventType::keyUp:
        return handleKeyUp(event);
    case TriggerEventType::flagsChanged:
        return handleFlagsChanged(event, triggers);
    case TriggerEventType::otherMouseDown:
        return handleMouseDown(event, triggers);
    case TriggerEventType::otherMouseUp:
        return handleMouseUp(event);
    }
    return {};
}

std::vector<TriggerAction> TriggerTracker::handleKeyDown(const TriggerEvent &event,
                                                         const std::vector<Trigger> &triggers)
{
    // Escape cancels whatever is down, repeated or not; the trigger's own release still comes later.
    if (event.keyCode == KeyCode::escape)
        return m_logic.cancel();
    if (event.isAutoRepeat)
        return {};

    for (const Trigger &trigger : triggers) {
        if (trigger.binding.kind() != TriggerBinding::Kind::macro)
            continue;
        if (advanceMacro(event, trigger.binding, *trigger.storageValue))
            return m_logic.macroCompleted();
        break;
    }

    if (m_activeTrigger)
        return {};
    for (const Trigger &trigger : triggers) {
        if (isKeyTrigger(trigger.binding) && trigger.binding.matchesPress(event))
            return press(trigger.binding, event);
    }
    return {};
}

std::vector<TriggerAction> TriggerTracker::handleKeyUp(const TriggerEvent &event)
{
    if (!m_activeTrigger || !isKeyTrigger(*m_activeTrigger))
        return {};
    if (!m_activeTrigger->matchesRelease(event))
        return {};
    return release(event);
}

std::vector<TriggerAction> TriggerTracker::handleFlagsChanged(const TriggerEvent &event,
                                                              const std::vector<Trigger> &triggers)
{
    if (m_activeTrigger) {
        if (isModifierTrigger(*m_activeTrigger) && m_activeTrigger->matchesPress(event) &&
            !m_activeTrigger->isHeld(event))
            return release(event);
        return {};
    }
    for (const Trigger &trigger : triggers) {
        if (isModifierTrigger(trigger.binding) && trigger.binding.matchesPress(event) && trigger.binding.isHeld(event))
            return press(trigger.binding, event);
    }
    return {};
}

std::vector<TriggerAction> TriggerTracker::handleMouseDown(const TriggerEvent &event,
                                                           const std::vector<Trigger> &triggers)
{
    if (m_activeTrigger)
        return {};
    for (const Trigger &trigger : triggers) {
        if (trigger.binding.kind() == TriggerBinding::Kind::mouse && trigger.binding.matchesPress(event))
            return press(trigger.binding, event);
    }
    return {};
}

std::vector<TriggerAction> TriggerTracker::handleMouseUp(const TriggerEvent &event)
{
    if (!m_activeTrigger || m_activeTrigger->kind() != TriggerBinding::Kind::mouse ||
        !m_activeTrigger->matchesRelease(event))
        return {};
    return release(event);
}

std::vector<TriggerAction> TriggerTracker::press(const TriggerBinding &binding, const TriggerEvent &event)
{
    m_activeTrigger = binding;
    return m_logic.press(event.time);
}

std::vector<TriggerAction> TriggerTracker::release(const TriggerEvent &event)
{
    m_activeTrigger.reset();
    return m_logic.release(event.time);
}

bool TriggerTracker::advanceMacro(const TriggerEvent &event, const TriggerBinding &binding, const QString &storageValue)
{
    const TriggerBinding::Macro *macro = binding.as<TriggerBinding::Macro>();
    if (macro == nullptr || macro->strokes.empty())
        return false;
    const auto &strokes = macro->strokes;

    const bool otherMacro = !m_macroTriggerValue || *m_macroTriggerValue != storageValue;
    const bool tooLate = m_macroLastEventTime && gapExceeds(*m_macroLastEventTime, event.time, macroStrokeGap);
    if (otherMacro || tooLate) {
        m_macroProgress = 0;
        m_macroLastEventTime.reset();
        m_macroTriggerValue = storageValue;
    }

    const auto next = static_cast<std::size_t>(m_macroProgress);
    if (next < strokes.size() && strokeMatches(strokes[next], event))
        ++m_macroProgress;
    else
        m_macroProgress = strokeMatches(strokes.front(), event) ? 1 : 0;
    m_macroLastEventTime = event.time;

    if (static_cast<std::size_t>(m_macroProgress) < strokes.size())
        return false;
    m_macroProgress = 0;
    m_macroLastEventTime.reset();
    return true;
}

void TriggerTracker::stop()
{
    m_activeTrigger.reset();
    clearMacro();
    m_logic.reset();
}

void TriggerTracker::sourceLost()
{
    clearMacro();
}

std::vector<TriggerAction> TriggerTracker::sourceRestored(const std::vector<TriggerEvent> &held)
{
    if (!m_activeTrigger)
        return {};
    for (const TriggerEvent &press : held) {
        if (keepsDown(*m_activeTrigger, press))
            return {};
    }
    m_activeTrigger.reset();
    return m_logic.releasedUnseen();
}

void TriggerTracker::clearMacro()
{
    m_macroProgress = 0;
    m_macroLastEventTime.reset();
    m_macroTriggerValue.reset();
}

} // namespace zq
