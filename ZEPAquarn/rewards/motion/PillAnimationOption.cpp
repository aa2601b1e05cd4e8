#include "rewards/motion/PillAnimationOption.h"

#include "rewards/motion/MotionStore.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace zq {

QString PillAnimationOption::accessibilityValue() const
{
    if (isSelectable)
        return isSelected ? QStringLiteral("Selected") : QStringLiteral("Available");
    return unlockNote.value_or(QStringLiteral("Locked"));
}

std::vector<PillAnimationOption> PillAnimationOption::options(const MotionStore &motion, double measure,
                                                              Colorway colorway)
{
    const PillAnimationStyle selected = motion.effectiveStyle(measure);
    const double reclaimed = measure > 0 ? measure : 0.0;
    std::vector<PillAnimationOption> tiles;
    for (const PillAnimationStyle style : kPillAnimationGalleryOrder) {
        PillAnimationOption tile;
        tile.style = style;
        tile.colorway = colorway;
        tile.isSelected = style == selected;
        tile.isSelectable = motion.canUse(style, measure);
        if (const std::optional<double> threshold = unlockThreshold(style); threshold && !tile.isSelectable) {
            tile.unlockNote = QStringLiteral("Unlocks at ") + unlockHoursText(style) +
                              QStringLiteral(" reclaimed \u00B7 ") + remainingTimeText(*threshold - reclaimed) +
                              QStringLiteral(" to go");
        }
        tiles.push_back(tile);
    }
    return tiles;
}

QString remainingTimeText(double seconds)
{
    qint64 s = 0;
    if (seconds >= double(std::numeric_limits<qint64>::max()))
        s = std::numeric_limits<qint64>::max();
    else if (seconds > 0)
        s = static_cast<qint64>(seconds);
    if (s < 60)
        return QString::number(s) + QStringLiteral("s");
    if (s < 3600)
        return QString::number(s / 60) + QStringLiteral("m");
    return QString::number(s / 3600) + QStringLiteral("h ") + QString::number((s / 60) % 60) + QStringLiteral("m");
}

LevelHistory syntheticHistory(rt::Nanos t)
{
    LevelHistory history;
    for (int i = 31; i >= 0; --i) {
        const rt::Nanos at = t - rt::seconds(0.021) * i;
        const double ti = rt::Seconds(at).count();
        const double carrier = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 5.1 * ti + std::sin(1.4 * ti));
        const double envelope = 0.82 + 0.18 * std::sin(7.1 * ti) * std::sin(21.3 * ti);
        history.append(at, std::clamp(envelope * std::pow(carrier, 1.4), 0.0, 1.0));
    }
    return history;
}

rt::Nanos previewTime(rt::Nanos now, rt::Nanos startedAt)
{
    return startedAt + std::chrono::duration_cast<rt::Nanos>(std::max(rt::Nanos(0), now - startedAt) * 0.35);
}

QString motionUnlockText(PillAnimationStyle style)
{
    return displayName(style) + QStringLiteral(" unlocked. General \u203A Appearance \u203A Motion");
}

} // namespace zq
