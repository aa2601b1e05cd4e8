#pragma once

#include "audio/LevelHistory.h"
#include "pipeline/Colorway.h"
#include "rewards/motion/PillAnimationStyle.h"

#include <QString>

#include <optional>
#include <vector>

namespace zq {

class MotionStore;

// One tile of the listening-animation gallery.
struct PillAnimationOption {
    PillAnimationStyle style = PillAnimationStyle::logoBars;
    Colorway colorway = Colorway::consensusMint;
    bool isSelected = false;
    bool isSelectable = false;
    // "Unlocks at 4h reclaimed · 1h 2m to go" while the style is locked; none otherwise.
    std::optional<QString> unlockNote;

    QString id() const { return rawValue(style); }
    // "Selected" or "Available" for a selectable tile, else its unlock note ("Locked" without one).
    QString accessibilityValue() const;

    friend bool operator==(const PillAnimationOption &, const PillAnimationOption &) = default;

    // The tiles in gallery order for the lifetime reclaimed seconds `measure`.
    static std::vector<PillAnimationOption> options(const MotionStore &motion, double measure, Colorway colorway);
};

// Seconds as "59s", "59m" or "4h 0m": cut, never rounded; negative reads "0s".
QString remainingTimeText(double seconds);

// The previews' made-up voice: 32 levels 0.021 s apart, the newest at `t`.
LevelHistory syntheticHistory(rt::Nanos t);
// The previews run at 0.35 of real time from the moment they were first shown.
rt::Nanos previewTime(rt::Nanos now, rt::Nanos startedAt);

// "Scaled pieces unlocked. General › Appearance › Motion".
QString motionUnlockText(PillAnimationStyle style);

} // namespace zq
