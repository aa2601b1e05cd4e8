#include "pipeline/TriggerLogic.h"

#include <cstdint>

namespace zq {

namespace {

// `to - from >= limit` without overflow for any pair of times; a time before `from` counts as no time.
bool elapsedAtLeast(std::chrono::nanoseconds from, std::chrono::nanoseconds to, std::chrono::nanoseconds limit)
{
    if (to < from)
        return limit.count() <= 0;
    const auto elapsed = static_cast<std::uint64_t>(to.count()) - static_cast<std::uint64_t>(from.count());
    return limit.count() <= 0 || elapsed >= static_cast<std::uint64_t>(limit.count());
}

} // namespace

TriggerLogic::TriggerLogic(std::chrono::nanoseconds lockThreshold) : m_lockThreshold(lockThreshold) {}

std::vector<TriggerAction> TriggerLogic::press(std::chrono::nanoseconds time)
{
    switch (m_state.kind) {
    case StateKind::idle:
        m_state = State::held(time);
        return {TriggerAction::start};
    case StateKind::locked:
        m_state = State::done();
        return {TriggerAction::finish};
    case StateKind::held:
    case StateKind::done:
        break;
    }
    return {};
}

std::vector<TriggerAction> TriggerLogic::release(std::chrono::nanoseconds time)
{
    if (m_state.kind != StateKind::held)
        return {};
    if (elapsedAtLeast(m_state.since, time, m_lockThreshold)) {
        m_state = State::done();
        return {TriggerAction::finish};
    }
    m_state = State::locked();
    return {TriggerAction::lock};
}

std::vector<TriggerAction> TriggerLogic::releasedUnseen()
{
    if (m_state.kind != StateKind::held)
        return {};
    m_state = State::done();
    return {TriggerAction::finish};
}

std::vector<TriggerAction> TriggerLogic::cancel()
{
    if (m_state.kind != StateKind::held && m_state.kind != StateKind::locked)
        return {};
    m_state = State::done();
    return {TriggerAction::cancel};
}

std::vector<TriggerAction> TriggerLogic::macroCompleted()
{
    switch (m_state.kind) {
    case StateKind::idle:
        m_state = State::locked();
        return {TriggerAction::start, TriggerAction::lock};
    case StateKind::locked:
        m_state = State::done();
        return {TriggerAction::finish};
    case StateKind::held:
    case StateKind::done:
        break;
    }
    return {};
}

} // namespace zq
