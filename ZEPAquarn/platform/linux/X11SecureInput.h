#pragma once

#include "platform/SecureInput.h"

#include <chrono>

namespace zq::platform {

// X11 has no secure event input: a window can always be typed into by XTest. What comes closest is the
// session's screen locker, asked over the session bus (org.freedesktop.ScreenSaver GetActive). Without a
// session bus or a screen-saver service the answer is false.
class X11SecureInput final : public SecureInput {
public:
    static constexpr std::chrono::milliseconds callTimeout{500};

    bool isSecureEventInputEnabled() override;

private:
    bool m_reportedFailure = false;
};

} // namespace zq::platform
