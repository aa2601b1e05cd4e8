#include "platform/linux/UnavailableLanguageModel.h"

namespace zq::platform {

LanguageModelAvailability UnavailableLanguageModel::availability() const
{
    return {false, QStringLiteral("deviceNotEligible")};
}

std::unique_ptr<LanguageModelSession> UnavailableLanguageModel::makeSession(const QString &)
{
    return nullptr;
}

} // namespace zq::platform
