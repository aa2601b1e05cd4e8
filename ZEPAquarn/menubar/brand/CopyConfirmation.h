#pragma once

#include "runtime/Executor.h"

#include <functional>

namespace zq {

// The "Copied" confirmation of a copy button: shown for 1.2 s after each successful copy. Every copy
// schedules its own reset and no reset is ever cancelled, so a second copy within the 1.2 s is
// ended early by the first one's reset. Main thread; resets that fire after the confirmation is
// gone do nothing.
class CopyConfirmation {
public:
    static constexpr double kSeconds = 1.2;

    // `onChange` runs whenever the shown state flips.
    CopyConfirmation(rt::MainLoop &loop, std::function<void()> onChange = {});

    bool isShown() const { return m_shown; }
    void confirm();

private:
    void set(bool shown);

    rt::MainLoop &m_loop;
    std::function<void()> m_onChange;
    bool m_shown = false;
    rt::Lifetime m_lifetime;
};

} // namespace zq
