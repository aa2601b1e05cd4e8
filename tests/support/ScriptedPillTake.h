#pragma once

#include "menubar/PillLifecycle.h"

namespace zq::test {

// A voice held at `level` from `from` to `to`, sampled every 50 ms as the meter records it.
inline LevelHistory steadyVoice(double from, double to, double level)
{
    LevelHistory history;
    for (double t = from; t <= to + 1e-9; t += 0.05)
        history.append(rt::seconds(t), level);
    return history;
}

// One take as the pill lives it: shown listening at 100 s, live at 101, thinking at 103 (the roll-up
// starts), done at 105.
struct ScriptedPillTake {
    PillLifecycle at(rt::Nanos now) const
    {
        using std::chrono::seconds;
        const LevelHistory none;
        PillLifecycle pill;
        pill.apply(PillState::listening(), none, seconds(100));
        if (now >= seconds(101))
            pill.noteCapture(true, none, seconds(101));
        if (now >= seconds(103))
            pill.apply(PillState::thinking(), steadyVoice(101, 103, 1), seconds(103));
        if (now >= seconds(105))
            pill.apply(PillState::done(), none, seconds(105));
        return pill;
    }
};

} // namespace zq::test
