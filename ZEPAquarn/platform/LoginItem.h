#pragma once

#include "runtime/Result.h"

namespace zq::platform {

// The application's own entry among the programs the desktop starts at login.
//
// Main thread; every call is a quick local operation and returns at once. status() never fails: an
// entry that cannot be read counts as not registered. registerItem() and unregisterItem() return
// the reason as a sentence when the desktop refuses the change; the entry is then as it was.
class LoginItem {
public:
    enum class Status { notRegistered, enabled, requiresApproval, notFound };

    virtual ~LoginItem() = default;

    virtual Status status() const = 0;
    virtual rt::Result<void> registerItem() = 0;
    // Removing an entry that does not exist is success.
    virtual rt::Result<void> unregisterItem() = 0;
};

} // namespace zq::platform
