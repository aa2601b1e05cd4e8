#pragma once

namespace zq {

// Whether a compositing manager runs on the application's X display: only then do translucent
// windows show what lies behind them (without one they paint black). False off X11.
bool compositorRunning();

} // namespace zq
