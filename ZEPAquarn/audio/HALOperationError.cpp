#include "audio/HALOperationError.h"

namespace zq {

QString HALOperationError::errorDescription()
{
    return QStringLiteral("The audio server did not respond in time");
}

const char *HALOperationError::what() const noexcept
{
    return "The audio server did not respond in time";
}

} // namespace zq
