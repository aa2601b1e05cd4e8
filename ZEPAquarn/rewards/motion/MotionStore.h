#pragma once

#include "rewards/motion/PillAnimationStyle.h"

#include <QObject>

#include <optional>
#include <set>
#include <vector>

namespace zq::rt {
class Settings;
}

namespace zq {

// The chosen listening animation, the styles the user may keep whatever the measure says later
// (grandfathered), and the unlocks already announced; over "pillAnimation", "motionGrandfathered"
// and "motionAnnounced". Purely cosmetic: it never gates dictation.
//
// The measure that unlocks styles is the lifetime reclaimed time in seconds, which callers take
// from the statistics store; a negative or NaN measure counts as 0. The pill does not consult this
// store: it reads "pillAnimation" itself, and this store is its only writer at run time.
//
// Main thread only.
class MotionStore : public QObject {
    Q_OBJECT
public:
    explicit MotionStore(rt::Settings &settings, QObject *parent = nullptr);

    PillAnimationStyle style() const { return m_style; }
    const std::set<PillAnimationStyle> &grandfathered() const { return m_grandfathered; }
    const std::set<PillAnimationStyle> &announced() const { return m_announced; }

    // The styles with an unlock threshold, in gallery order: scaledPieces, bandSwell.
    static std::vector<PillAnimationStyle> tieredStyles();

    bool canUse(PillAnimationStyle style, double measure) const;
    // The style the gallery shows as chosen.
    PillAnimationStyle effectiveStyle(double measure) const;
    // Chooses the style when it may be used (and keeps it usable for good); otherwise nothing.
    void select(PillAnimationStyle style, double measure);
    // The unlock the statistics page should announce, or none.
    std::optional<PillAnimationStyle> pendingUnlockAnnouncement(double measure) const;
    // Records that the unlock line for `style` was shown (and for every lower tier).
    void markAnnounced(PillAnimationStyle style);

signals:
    void styleChanged();
    void grandfatheredChanged();
    void announcedChanged();

private:
    rt::Settings &m_settings;
    PillAnimationStyle m_style = PillAnimationStyle::logoBars;
    std::set<PillAnimationStyle> m_grandfathered;
    std::set<PillAnimationStyle> m_announced;
};

} // namespace zq
