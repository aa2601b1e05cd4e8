#include "support/FakeLanguageModel.h"

namespace zq::test {

class FakeLanguageModelSession final : public platform::LanguageModelSession {
public:
    explicit FakeLanguageModelSession(FakeLanguageModel &model) : m_model(model) {}
    rt::Result<QString> respond(const QString &prompt, std::stop_token) override
    {
        std::lock_guard lock(m_model.m_mutex);
        m_model.m_prompts.append(prompt);
        return m_model.answer;
    }

private:
    FakeLanguageModel &m_model;
};

std::unique_ptr<platform::LanguageModelSession> FakeLanguageModel::makeSession(const QString &instructions,
                                                                               const QStringList &)
{
    std::lock_guard lock(m_mutex);
    m_instructions.append(instructions);
    return std::make_unique<FakeLanguageModelSession>(*this);
}

QStringList FakeLanguageModel::sessionInstructions() const
{
    std::lock_guard lock(m_mutex);
    return m_instructions;
}

QStringList FakeLanguageModel::prompts() const
{
    std::lock_guard lock(m_mutex);
    return m_prompts;
}

} // namespace zq::test
