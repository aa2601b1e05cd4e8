#include "menubar/brand/CopyConfirmation.h"

#include <chrono>

namespace zq {

CopyConfirmation::CopyConfirmation(rt::MainLoop &loop, std::function<void()> onChange)
    : m_loop(loop), m_onChange(std::move(onChange))
{}

void CopyConfirmation::confirm()
{
    set(true);
    m_loop.postDelayed(std::chrono::duration_cast<rt::Nanos>(std::chrono::duration<double>(kSeconds)),
                       m_lifetime.guard([this] { set(false); }));
}

void CopyConfirmation::set(bool shown)
{
    if (m_shown == shown)
        return;
    m_shown = shown;
    if (m_onChange)
        m_onChange();
}

} // namespace zq
