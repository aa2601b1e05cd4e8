#pragma once

#include <optional>

namespace zq {

namespace platform {
class WindowCompositing;
}

// Whether a compositing manager runs on the application's display: only then do translucent
// windows show what lies behind them (without one they paint black). Asks the desktop service
// lent with CompositingLend; none while nothing is lent or where the service cannot tell, and the
// caller knows best what to assume then.
std::optional<bool> compositorRunning();

// Lends the desktop's compositing to the views for as long as it lives. The popovers and panels
// that ask are made deep inside windows of every kind, so the application lends the service once
// rather than threading it through each of them. At most one at a time; made after the toolkit's
// application and dropped after the last view.
class CompositingLend {
public:
    explicit CompositingLend(const platform::WindowCompositing &compositing);
    ~CompositingLend();
    CompositingLend(const CompositingLend &) = delete;
    CompositingLend &operator=(const CompositingLend &) = delete;
};

} // namespace zq
