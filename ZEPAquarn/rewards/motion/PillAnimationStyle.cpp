#include "rewards/motion/PillAnimationStyle.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"

namespace zq {

PillAnimationStyle storedPillAnimationStyle(const rt::Settings &settings)
{
    return settings.enumValue<PillAnimationStyle>(keys::pillAnimation).value_or(PillAnimationStyle::logoBars);
}

QString displayName(PillAnimationStyle style)
{
    switch (style) {
    case PillAnimationStyle::logoBars:
        return QStringLiteral("Logo + bars");
    case PillAnimationStyle::scaledPieces:
        return QStringLiteral("Scaled pieces");
    case PillAnimationStyle::bandSwell:
        return QStringLiteral("Band swell");
    case PillAnimationStyle::surface:
        // Not "Surface": that is the first depth rung, shown on the same page.
        return QStringLiteral("Liquid level");
    }
    return {};
}

QString blurb(PillAnimationStyle style)
{
    switch (style) {
    case PillAnimationStyle::logoBars:
        return QStringLiteral("The ZEPA mark opens into four live bars.");
    case PillAnimationStyle::scaledPieces:
        return QStringLiteral("Each quarter of the mark follows your voice.");
    case PillAnimationStyle::bandSwell:
        return QStringLiteral("The mark grows in weight with your voice.");
    case PillAnimationStyle::surface:
        return QStringLiteral("A quiet liquid level rises inside the mark.");
    }
    return {};
}

std::optional<double> unlockThreshold(PillAnimationStyle style)
{
    switch (style) {
    case PillAnimationStyle::scaledPieces:
        return 14400.0;
    case PillAnimationStyle::bandSwell:
        return 43200.0;
    case PillAnimationStyle::logoBars:
    case PillAnimationStyle::surface:
        break;
    }
    return std::nullopt;
}

QString unlockHoursText(PillAnimationStyle style)
{
    switch (style) {
    case PillAnimationStyle::scaledPieces:
        return QStringLiteral("4h");
    case PillAnimationStyle::bandSwell:
        return QStringLiteral("12h");
    case PillAnimationStyle::logoBars:
    case PillAnimationStyle::surface:
        break;
    }
    return {};
}

std::optional<VekMotion> vekMotionOf(PillAnimationStyle style)
{
    switch (style) {
    case PillAnimationStyle::scaledPieces:
        return VekMotion::scaledPieces;
    case PillAnimationStyle::bandSwell:
        return VekMotion::bandSwell;
    case PillAnimationStyle::surface:
        return VekMotion::surface;
    case PillAnimationStyle::logoBars:
        break;
    }
    return std::nullopt;
}

} // namespace zq
