#pragma once

#include "platform/LanguageModel.h"

#include <QStringList>

#include <mutex>

namespace zq::test {

// A scripted language model: available or not, one canned answer or error for every prompt.
// Records the instructions of each session and the prompts it was asked.
class FakeLanguageModel final : public platform::LanguageModel {
public:
    platform::LanguageModelAvailability available{true, {}};
    rt::Result<QString> answer = QString();

    platform::LanguageModelAvailability availability() const override { return available; }
    std::unique_ptr<platform::LanguageModelSession> makeSession(const QString &instructions,
                                                                const QStringList &vocabulary) override;

    QStringList sessionInstructions() const;
    QStringList prompts() const;

private:
    friend class FakeLanguageModelSession;
    mutable std::mutex m_mutex;
    QStringList m_instructions;
    QStringList m_prompts;
};

} // namespace zq::test
