#pragma once

#include "pipeline/TranscriptionBackend.h"

#include <QString>
#include <QStringList>

#include <functional>

#include <memory>
#include <optional>
#include <vector>

namespace zq::test {

// One transcribe() call as a fake engine received it, with the stream the test answers on.
struct FakeTranscription {
    QString backendName;
    std::optional<AudioSource> source;
    QString language;
    QStringList dictionary;
    rt::AsyncChannel<TranscriptUpdate> updates;
    // Set when the consumer stopped listening (cancel, or its last handle gone).
    std::shared_ptr<bool> terminated = std::make_shared<bool>(false);

    void partial(const QString &text) const { updates.send(TranscriptUpdate::partial(text)); }
    void final(const QString &text) const { updates.send(TranscriptUpdate::final(text)); }
    void finish() const { updates.finish(); }
    template <typename E>
    void fail(E error) const
    {
        updates.fail(std::make_exception_ptr(std::move(error)));
    }
};

// Engines that hand every transcription to the test. All engines of one factory share its list;
// a script, when set, answers each call as it is made.
class FakeTranscriptionBackendFactory {
public:
    using Script = std::function<void(FakeTranscription &)>;

    // The factory function for the controller.
    std::unique_ptr<TranscriptionBackend> make(const QString &name);

    void setScript(Script script) { m_state->script = std::move(script); }
    QStringList madeNames() const { return m_state->made; }
    const std::vector<std::shared_ptr<FakeTranscription>> &calls() const { return m_state->calls; }
    // The last transcription asked for; null before the first.
    std::shared_ptr<FakeTranscription> last() const;

    struct State {
        QStringList made;
        std::vector<std::shared_ptr<FakeTranscription>> calls;
        Script script;
    };

private:
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace zq::test
