#pragma once

#include <optional>

namespace zq {

// Whether a compositing manager runs on the application's X display: only then do translucent
// windows show what lies behind them (without one they paint black). None off X11, where the
// caller knows best what to assume.
std::optional<bool> compositorRunning();

} // namespace zq
