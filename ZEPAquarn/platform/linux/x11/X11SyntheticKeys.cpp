#include "platform/linux/x11/X11SyntheticKeys.h"

namespace zq::platform {

void X11SyntheticKeys::announce(std::span<const Transition> transitions)
{
    const auto deadline = std::chrono::steady_clock::now() + expiry;
    const std::lock_guard lock(m_mutex);
    for (const Transition &transition : transitions)
        m_expected.push_back(Entry{transition, deadline});
}

bool X11SyntheticKeys::consume(int xKeyCode, bool press)
{
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard lock(m_mutex);
    while (!m_expected.empty() && m_expected.front().deadline < now)
        m_expected.pop_front();
    for (auto it = m_expected.begin(); it != m_expected.end(); ++it) {
        if (it->transition.xKeyCode == xKeyCode && it->transition.press == press) {
            m_expected.erase(it);
            return true;
        }
    }
    return false;
}

} // namespace zq::platform
