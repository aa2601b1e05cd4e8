#pragma once

#include "platform/LanguageModel.h"

namespace zq::platform {

// This platform has no on-device language model: it is never available and makes no sessions,
// so transcript cleanup always hands back its input.
class UnavailableLanguageModel final : public LanguageModel {
public:
    LanguageModelAvailability availability() const override;
    std::unique_ptr<LanguageModelSession> makeSession(const QString &instructions) override;
};

} // namespace zq::platform
