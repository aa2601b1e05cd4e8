#include "pipeline/Colorway.h"

namespace zq {

QString rawValue(Colorway colorway)
{
    switch (colorway) {
    case Colorway::consensusMint:
        return QStringLiteral("consensusMint");
    case Colorway::signalPurple:
        return QStringLiteral("signalPurple");
    case Colorway::agentTeal:
        return QStringLiteral("agentTeal");
    case Colorway::deepOrbit:
        return QStringLiteral("deepOrbit");
    case Colorway::systemGray:
        return QStringLiteral("systemGray");
    case Colorway::monochrome:
        return QStringLiteral("monochrome");
    }
    return {};
}

std::optional<Colorway> colorwayFromRawValue(const QString &raw)
{
    for (const Colorway colorway : kAllColorways) {
        if (rawValue(colorway) == raw)
            return colorway;
    }
    return std::nullopt;
}

QString appIconName(Colorway colorway)
{
    if (colorway == Colorway::consensusMint)
        return QStringLiteral("AppIcon");
    return QStringLiteral("AppIcon-") + rawValue(colorway);
}

} // namespace zq
