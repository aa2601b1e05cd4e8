#pragma once

#include "pipeline/TranscriptionBackend.h"
#include "platform/SpeechRecognizer.h"
#include "runtime/Executor.h"
#include "runtime/Task.h"
#include "transcription/OpenAIBackend.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace zq {

// What the two engines are made with. The application builds one at start-up and keeps it.
struct BackendEnvironment {
    rt::MainLoop *loop = nullptr;
    std::shared_ptr<platform::SpeechRecognizer> recognizer; // for the on-device engine
    OpenAIBackend::Config openAI;
};

// A new engine for a backend name, chosen by backendKindOf() (an unknown name is on-device). Never
// fails.
std::unique_ptr<TranscriptionBackend> makeBackend(const QString &name, const BackendEnvironment &environment);

// Builds an engine for a backend name; called on the main thread.
using BackendFactory = std::function<std::unique_ptr<TranscriptionBackend>(const QString &name)>;

// makeBackend() bound to an environment.
BackendFactory makeBackendFactory(BackendEnvironment environment);

// Transcribes a kept recording again (the support page's retry). Runs on the main loop.
class RecoveredTakeTranscribing {
public:
    virtual ~RecoveredTakeTranscribing() = default;

    // The final transcript of the recording at `path` with the named engine. Fails with the
    // engine's error unchanged (cancellation included), or with ZEPAError::transcriptionFailed
    // "Transcription returned no result" when the stream ends without a final text.
    virtual rt::Task<QString> transcribeRecording(QString path, QString backend, QString language,
                                                  QStringList dictionary) = 0;
};

class RecoveredTakeTranscriber final : public RecoveredTakeTranscribing {
public:
    explicit RecoveredTakeTranscriber(BackendFactory backendFactory) : backendFactory(std::move(backendFactory)) {}

    rt::Task<QString> transcribeRecording(QString path, QString backend, QString language,
                                          QStringList dictionary) override;

    BackendFactory backendFactory;
};

} // namespace zq
