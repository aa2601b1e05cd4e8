#pragma once

#include "platform/EscapeKeyGrab.h"

namespace zq::test {

// Whether Escape is kept from the windows right now.
class FakeEscapeKeyGrab final : public platform::EscapeKeyGrab {
public:
    void setHeld(bool held) override { isHeld = held; }

    bool isHeld = false;
};

} // namespace zq::test
