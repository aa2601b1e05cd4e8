#pragma once

#include "platform/WindowCompositing.h"

namespace zq::platform {

// Asks the application's X display whether a compositing manager owns the screen's compositing
// selection. None when the application does not run on X11.
class X11WindowCompositing final : public WindowCompositing {
public:
    std::optional<bool> isActive() const override;
};

} // namespace zq::platform
