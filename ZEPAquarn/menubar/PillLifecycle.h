#pragma once

#include "audio/LevelHistory.h"
#include "pipeline/PillState.h"

#include <optional>
#include <vector>

namespace zq {

// When each edge of the pill's life happened: shown, state changes, capture going live or ending,
// roll-up of the level bars, exit. Everything the pill animates is a function of this record and the
// frame time, so a frame drawn at any moment looks the same.
//
// All times are on the main loop's clock, the clock of the level history's samples; it never steps, so
// a change of the wall clock jumps no animation. A plain value; the panel keeps the one stored copy
// and changes it on the main thread.
struct PillLifecycle {
    PillState state = PillState::hidden();
    PillState previous = PillState::hidden();
    rt::Nanos stateAt{0};
    std::optional<rt::Nanos> shownAt;
    std::optional<rt::Nanos> rollupAt;
    LevelHistory rollupHistory;
    bool captureLive = false;
    bool captureWasLive = false;
    std::optional<rt::Nanos> captureAt;
    std::optional<rt::Nanos> exitAt;

    // Records a new state. `history` is the engine's level history, kept only when a roll-up starts.
    void apply(const PillState &next, const LevelHistory &history, rt::Nanos now);
    // Records that the capture became live or stopped being live; ignored outside listening or
    // locked and when the flag does not change.
    void noteCapture(bool live, const LevelHistory &history, rt::Nanos now);

    bool isCapturing() const { return isCapturing(state); }
    static bool isCapturing(const PillState &state);

    // The look of the whole pill at `now`: entry fade, scale and slide, or the exit.
    struct Presence {
        double opacity = 0;
        double scale = 1;
        double offset = 0; // points down
        friend bool operator==(const Presence &, const Presence &) = default;
    };
    Presence presence(rt::Nanos now) const;
    // The capsule's width: 36 narrow, 67 while the capture is live with the bar meter.
    double pillWidth(bool reduceMotion, rt::Nanos now) const;
    // How far the live meter has come in, 0 to 1.
    double captureFade(bool reduceMotion, rt::Nanos now) const;
    // How far the roll-up has come, 0 to 1; 0 without a roll-up.
    double rollupProgress(rt::Nanos now) const;
    // The mark's rotation in degrees.
    double markRotation(rt::Nanos now) const;
    // The four bar heights (fractions of `height`) frozen when the capture ended; empty without a
    // roll-up.
    std::vector<double> rollupFrom(double height) const;

    friend bool operator==(const PillLifecycle &, const PillLifecycle &) = default;
};

} // namespace zq
