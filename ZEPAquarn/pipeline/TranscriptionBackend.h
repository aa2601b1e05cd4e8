#pragma once

#include "pipeline/AudioSource.h"
#include "pipeline/TranscriptUpdate.h"
#include "runtime/AsyncChannel.h"

#include <QString>
#include <QStringList>

namespace zq {

// A transcription engine: the on-device one or the OpenAI one, made afresh for every take.
//
// transcribe() is called on the main thread and returns at once; the engine works in a task of its
// own and stops it when the consumer stops listening (cancel, or the last handle dropped). The
// consumer sees zero or more `partial` updates, each with the whole text so far, then either at
// most one `final` update and the end of the stream, or a failure: a ZEPAError (wrongAudioSource
// for a source kind the engine cannot use, noAPIKey when no key is stored) or another exception
// the engine passes on. A stream that ends with neither a `final` update nor a failure carries no
// transcript; each consumer decides what that means.
class TranscriptionBackend {
public:
    virtual ~TranscriptionBackend() = default;

    // `language` is "auto" or a catalogue code; `dictionary` the user's custom vocabulary.
    virtual rt::AsyncChannel<TranscriptUpdate> transcribe(AudioSource source, QString language,
                                                          QStringList dictionary) = 0;
};

} // namespace zq
