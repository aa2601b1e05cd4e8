#include "rewards/motion/MotionStore.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"

#include <QStringList>

#include <algorithm>

namespace zq {

namespace {

// A negative measure counts as none, and so does a NaN (which fails every comparison).
double clampedMeasure(double measure)
{
    return measure > 0 ? measure : 0.0;
}

bool unlockedByMeasure(PillAnimationStyle style, double measure)
{
    const std::optional<double> threshold = unlockThreshold(style);
    return !threshold || clampedMeasure(measure) >= *threshold;
}

std::set<PillAnimationStyle> readStyles(const rt::Settings &settings, const char *key)
{
    std::set<PillAnimationStyle> styles;
    for (const QString &raw : settings.stringListValue(QString::fromLatin1(key))) {
        if (const auto style = fromRawValue<PillAnimationStyle>(raw))
            styles.insert(*style);
    }
    return styles;
}

void writeStyles(rt::Settings &settings, const char *key, const std::set<PillAnimationStyle> &styles)
{
    QStringList raw;
    for (const PillAnimationStyle style : styles)
        raw << rawValue(style);
    std::sort(raw.begin(), raw.end());
    settings.setValue(QString::fromLatin1(key), raw);
}

} // namespace

MotionStore::MotionStore(rt::Settings &settings, QObject *parent) : QObject(parent), m_settings(settings)
{
    m_style = storedPillAnimationStyle(settings);
    // The stored style joins in memory only; the stored list changes at the next selection.
    m_grandfathered = readStyles(settings, keys::motionGrandfathered);
    m_grandfathered.insert(m_style);
    m_announced = readStyles(settings, keys::motionAnnounced);
}

std::vector<PillAnimationStyle> MotionStore::tieredStyles()
{
    std::vector<PillAnimationStyle> tiered;
    for (const PillAnimationStyle style : kPillAnimationGalleryOrder) {
        if (unlockThreshold(style))
            tiered.push_back(style);
    }
    return tiered;
}

bool MotionStore::canUse(PillAnimationStyle style, double measure) const
{
    return unlockedByMeasure(style, measure) || m_grandfathered.count(style) > 0;
}

PillAnimationStyle MotionStore::effectiveStyle(double measure) const
{
    if (canUse(m_style, measure))
        return m_style;
    return PillAnimationStyle::surface;
}

void MotionStore::select(PillAnimationStyle style, double measure)
{
    if (!canUse(style, measure))
        return;
    m_style = style;
    emit styleChanged();
    m_settings.setValue(keys::pillAnimation, style);
    m_grandfathered.insert(style);
    emit grandfatheredChanged();
    writeStyles(m_settings, keys::motionGrandfathered, m_grandfathered);
}

std::optional<PillAnimationStyle> MotionStore::pendingUnlockAnnouncement(double measure) const
{
    const std::vector<PillAnimationStyle> tiered = tieredStyles();
    // Highest tier first: passing both thresholds at once announces only the higher one.
    for (auto it = tiered.rbegin(); it != tiered.rend(); ++it) {
        if (!unlockedByMeasure(*it, measure))
            continue;
        if (m_announced.count(*it) == 0)
            return *it;
    }
    return std::nullopt;
}

void MotionStore::markAnnounced(PillAnimationStyle style)
{
    const std::optional<double> ceiling = unlockThreshold(style);
    if (ceiling) {
        for (const PillAnimationStyle tiered : tieredStyles()) {
            if (*unlockThreshold(tiered) <= *ceiling)
                m_announced.insert(tiered);
        }
    }
    emit announcedChanged();
    writeStyles(m_settings, keys::motionAnnounced, m_announced);
}

} // namespace zq
