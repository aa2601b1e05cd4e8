#include "menubar/brand/Compositor.h"

#include "platform/WindowCompositing.h"

#include <QtGlobal>

namespace zq {

namespace {
// Main thread only, like every view that asks.
const platform::WindowCompositing *s_lent = nullptr;
} // namespace

std::optional<bool> compositorRunning()
{
    return s_lent ? s_lent->isActive() : std::nullopt;
}

CompositingLend::CompositingLend(const platform::WindowCompositing &compositing)
{
    Q_ASSERT_X(!s_lent, "CompositingLend", "only one may exist at a time");
    s_lent = &compositing;
}

CompositingLend::~CompositingLend()
{
    s_lent = nullptr;
}

} // namespace zq
