#include "pipeline/BackendFactory.h"

#include "pipeline/ZEPAError.h"
#include "runtime/AsyncChannel.h"
#include "runtime/BackendKind.h"
#include "transcription/LocalBackend.h"

namespace zq {

std::unique_ptr<TranscriptionBackend> makeBackend(const QString &name, const BackendEnvironment &environment)
{
    Q_ASSERT(environment.loop);
    if (backendKindOf(name) == BackendKind::openai)
        return std::make_unique<OpenAIBackend>(*environment.loop, environment.openAI);
    return std::make_unique<LocalBackend>(*environment.loop, environment.recognizer);
}

BackendFactory makeBackendFactory(BackendEnvironment environment)
{
    return [environment = std::move(environment)](const QString &name) { return makeBackend(name, environment); };
}

rt::Task<QString> RecoveredTakeTranscriber::transcribeRecording(QString path, QString backend, QString language,
                                                                QStringList dictionary)
{
    // The engine is kept until its stream ends, whether or not it needs to be.
    const std::unique_ptr<TranscriptionBackend> engine = backendFactory(backend);
    rt::AsyncChannel<TranscriptUpdate> updates =
        engine->transcribe(AudioSource::file(std::move(path)), std::move(language), std::move(dictionary));
    std::optional<QString> finalText;
    while (std::optional<TranscriptUpdate> update = co_await updates.next()) {
        if (update->isFinal())
            finalText = update->text;
    }
    if (!finalText)
        throw ZEPAError::transcriptionFailed(QStringLiteral("Transcription returned no result"));
    co_return *finalText;
}

} // namespace zq
