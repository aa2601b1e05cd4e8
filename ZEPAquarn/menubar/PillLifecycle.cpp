#include "menubar/PillLifecycle.h"

namespace zq {

bool PillLifecycle::isCapturing(const PillState &state)
{
    return state.is(PillState::Kind::listening) || state.is(PillState::Kind::locked);
}

void PillLifecycle::apply(const PillState &next, const LevelHistory &history, double now)
{
    // A hide only starts the exit; the last state stays so the fading pill still draws it.
    if (next.is(PillState::Kind::hidden)) {
        if (shownAt && !exitAt)
            exitAt = now;
        return;
    }
    const PillState old = state;
    if (exitAt)
        *this = PillLifecycle();

    bool wasCapturing = false;
    if (!shownAt) {
        shownAt = now;
        previous = next;
        rollupAt.reset();
    } else {
        previous = old;
        wasCapturing = isCapturing(old);
    }

    if (next.is(PillState::Kind::thinking) || next.is(PillState::Kind::done) || next.is(PillState::Kind::muted)) {
        if (wasCapturing && captureWasLive && !rollupAt) {
            rollupAt = now;
            rollupHistory = history;
        }
    }

    if (isCapturing(next)) {
        if (isCapturing(old)) {
            if (!captureWasLive)
                rollupAt.reset();
        } else {
            captureLive = false;
            captureWasLive = false;
            captureAt.reset();
            rollupAt.reset();
        }
    }

    state = next;
    stateAt = now;
}

void PillLifecycle::noteCapture(bool live, const LevelHistory &history, double now)
{
    if (!isCapturing() || live == captureLive)
        return;
    captureLive = live;
    captureAt = now;
    if (live) {
        captureWasLive = true;
        rollupAt.reset();
    } else if (captureWasLive) {
        rollupAt = now;
        rollupHistory = history;
    }
}

} // namespace zq
