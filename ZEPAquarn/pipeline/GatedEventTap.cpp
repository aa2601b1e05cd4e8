#include "pipeline/GatedEventTap.h"

#include "pipeline/TriggerBinding.h"
#include "pipeline/TriggerRecordingGate.h"

namespace zq {

namespace {

constexpr std::uint64_t kSideBits = ModifierFlag::leftControlKey | ModifierFlag::rightControlKey |
                                    ModifierFlag::leftShiftKey | ModifierFlag::rightShiftKey |
                                    ModifierFlag::leftOptionKey | ModifierFlag::rightOptionKey |
                                    ModifierFlag::leftCommandKey | ModifierFlag::rightCommandKey;

} // namespace

GatedEventTap::GatedEventTap(platform::EventTap &source, const TriggerRecordingGate &gate)
    : m_source(source), m_gate(gate)
{}

bool GatedEventTap::start(Handlers handlers)
{
    auto onEvent = [gate = &m_gate, forward = std::move(handlers.onEvent)](const TriggerEvent &event) {
        if (gate->isRecording() && isPress(event))
            return;
        forward(event);
    };
    return m_source.start({std::move(onEvent), std::move(handlers.onDisabled), std::move(handlers.onRestored)});
}

bool GatedEventTap::isPress(const TriggerEvent &event)
{
    switch (event.type) {
    case TriggerEventType::keyDown:
    case TriggerEventType::otherMouseDown:
        return true;
    case TriggerEventType::flagsChanged:
        if (event.keyCode == KeyCode::function)
            return (event.flags & ModifierFlag::function) != 0;
        if (const std::optional<ModifierKeyInfo> info = modifierKeyInfo(event.keyCode)) {
            // With per-key bits, the key's own bit decides: the other key of the pair may still be down.
            const std::uint64_t side = modifierKeySideFlag(event.keyCode);
            if ((event.flags & kSideBits) != 0)
                return (event.flags & side) != 0;
            return (event.flags & info->flag) != 0;
        }
        return false;
    default:
        return false;
    }
}

} // namespace zq
