#pragma once

namespace zq::platform {

// Whether typed input is protected right now, so that synthetic keys must not be posted: the session's
// screen locker is active. Main thread only; may wait briefly for the session bus. When the session has
// no way to tell, the answer is false.
class ScreenLock {
public:
    virtual ~ScreenLock() = default;

    virtual bool isLocked() = 0;
};

} // namespace zq::platform
