#include "pipeline/Colorway.h"

namespace zq {

QString appIconName(Colorway colorway)
{
    if (colorway == Colorway::consensusMint)
        return QStringLiteral("AppIcon");
    return QStringLiteral("AppIcon-") + rawValue(colorway);
}

} // namespace zq
