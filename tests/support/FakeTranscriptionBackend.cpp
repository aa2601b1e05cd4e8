#include "support/FakeTranscriptionBackend.h"

namespace zq::test {

namespace {

class FakeTranscriptionBackend final : public TranscriptionBackend {
public:
    FakeTranscriptionBackend(QString name, std::shared_ptr<FakeTranscriptionBackendFactory::State> state)
        : m_name(std::move(name)), m_state(std::move(state))
    {}

    rt::AsyncChannel<TranscriptUpdate> transcribe(AudioSource source, QString language, QStringList dictionary) override
    {
        auto call = std::make_shared<FakeTranscription>();
        call->backendName = m_name;
        call->source = std::move(source);
        call->language = std::move(language);
        call->dictionary = std::move(dictionary);
        call->updates.setOnTermination([terminated = call->terminated] { *terminated = true; });
        m_state->calls.push_back(call);
        if (m_state->script)
            m_state->script(*call);
        return call->updates;
    }

private:
    QString m_name;
    std::shared_ptr<FakeTranscriptionBackendFactory::State> m_state;
};

} // namespace

std::unique_ptr<TranscriptionBackend> FakeTranscriptionBackendFactory::make(const QString &name)
{
    m_state->made.append(name);
    return std::make_unique<FakeTranscriptionBackend>(name, m_state);
}

std::shared_ptr<FakeTranscription> FakeTranscriptionBackendFactory::last() const
{
    return m_state->calls.empty() ? nullptr : m_state->calls.back();
}

} // namespace zq::test
