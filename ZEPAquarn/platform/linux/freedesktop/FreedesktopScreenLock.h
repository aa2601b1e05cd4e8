#pragma once

#include "platform/ScreenLock.h"

#include <chrono>

namespace zq::platform {

// The session's screen locker, asked over the session bus (org.freedesktop.ScreenSaver GetActive). X11
// has no protected input mode (XTest can type into any window); a locked screen is what comes closest.
// Without a session bus or a screen-saver service the answer is false.
class FreedesktopScreenLock final : public ScreenLock {
public:
    static constexpr std::chrono::milliseconds callTimeout{500};

    bool isLocked() override;

private:
    bool m_reportedFailure = false;
};

} // namespace zq::platform
