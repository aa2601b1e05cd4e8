#pragma once

namespace zq {

// The audio engine's per-take recovery counters. The engine clears `recoveriesUsed` and
// `recovering` when a take begins, and `recovering` again when the take or a recovery attempt ends.
struct TakeRecoveryCoordinator {
    int startupAttempts = 0; // start attempts made for the current take
    int recoveriesUsed = 0;  // automatic recoveries used during the current take
    bool recovering = false; // a recovery is under way

    friend bool operator==(const TakeRecoveryCoordinator &, const TakeRecoveryCoordinator &) = default;
};

} // namespace zq
