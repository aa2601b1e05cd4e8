#pragma once

#include "pipeline/TranscriptionBackend.h"
#include "platform/SpeechRecognizer.h"
#include "runtime/Executor.h"

#include <QLocale>

#include <memory>

namespace zq {

// The on-device transcription engine: one take in, growing partial texts while audio arrives and
// one final text at the end, through the shared speech recogniser.
//
// transcribe() returns at once. The work runs as a task on `loop` (it only moves buffers and
// texts; recognition itself runs on the recogniser's threads, file reading on a worker thread).
// When the consumer stops listening the task, the analysis and the file reader stop at once.
// The object holds no state of a take: a new one may be made per take.
class LocalBackend final : public TranscriptionBackend {
public:
    // `currentLocale` is what the language "auto" stands for.
    LocalBackend(rt::MainLoop &loop, std::shared_ptr<platform::SpeechRecognizer> recognizer,
                 QLocale currentLocale = QLocale::system());

    rt::AsyncChannel<TranscriptUpdate> transcribe(AudioSource source, QString language,
                                                  QStringList dictionary) override;

    // The buffers of a recording file, read on one of `threads` in blocks of 8192 frames. A file that
    // cannot be opened or read is logged and ends the stream normally, after what was read.
    // Cancelling the stream, or stopping `threads`, stops the reader.
    static rt::AsyncChannel<platform::SharedPCMBuffer> readRecordingFile(const QString &path,
                                                                         rt::WorkerThreads &threads);

private:
    rt::MainLoop &m_loop;
    std::shared_ptr<platform::SpeechRecognizer> m_recognizer;
    QLocale m_currentLocale;
};

} // namespace zq
