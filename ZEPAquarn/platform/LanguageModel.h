#pragma once

#include "runtime/Result.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <stop_token>

namespace zq::platform {

// Whether the on-device language model can answer now; `reason` says why not, for the log.
struct LanguageModelAvailability {
    bool isAvailable = false;
    QString reason;
};

// One conversation with the model, made with fixed instructions and no tools. respond() blocks
// until the whole answer is there (call it on a worker thread); it returns early with an error
// when `stop` is requested. Generation options are the model's defaults.
class LanguageModelSession {
public:
    virtual ~LanguageModelSession() = default;
    virtual rt::Result<QString> respond(const QString &prompt, std::stop_token stop) = 0;
};

// The on-device language model. Any thread; availability() returns at once.
class LanguageModel {
public:
    virtual ~LanguageModel() = default;
    virtual LanguageModelAvailability availability() const = 0;
    // Null when the model is not available. The vocabulary is also named in the instructions; it
    // comes as a list too, for a model that does not read prose.
    virtual std::unique_ptr<LanguageModelSession> makeSession(const QString &instructions,
                                                              const QStringList &vocabulary) = 0;
};

} // namespace zq::platform
