#pragma once

#include <optional>

namespace zq::platform {

// Whether the desktop composites windows: only then do translucent windows show what lies behind
// them (without a compositing manager they paint black). Asked afresh on each call, since a
// compositing manager may start or stop at any time. Main thread.
class WindowCompositing {
public:
    virtual ~WindowCompositing() = default;
    // None where the back-end cannot tell (another windowing system): the caller knows best what to
    // assume there.
    virtual std::optional<bool> isActive() const = 0;
};

} // namespace zq::platform
