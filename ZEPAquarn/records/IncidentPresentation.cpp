#include "records/IncidentPresentation.h"

#include "runtime/BackendKind.h"

namespace zq {

namespace {

IncidentPresentation timedOutPresentation()
{
    return {QStringLiteral("ZQ-TX-TIMEOUT"), QStringLiteral("Transcription took too long"),
            QStringLiteral("ZEPA QUARN stopped waiting before the recording could be transcribed."),
            QStringLiteral("Your recording was kept. Check your connection, then retry the transcription.")};
}

} // namespace

IncidentPresentation IncidentPresentation::interrupted()
{
    return {QStringLiteral("ZQ-TX-INTERRUPTED"), QStringLiteral("Transcription interrupted"),
            QStringLiteral("ZEPA QUARN quit before the recording could be transcribed."),
            QStringLiteral("Your recording was kept. Retry the transcription.")};
}

IncidentPresentation IncidentPresentation::forFailure(const DictationFailure &failure, const QString &engine,
                                                      const QString &pasteChord)
{
    switch (failure.kind()) {
    case DictationFailure::Kind::micPermissionUndetermined:
        return {QStringLiteral("ZQ-MIC-PERMISSION"), QStringLiteral("Microphone access needed"),
                QStringLiteral("ZEPA QUARN could not start listening because microphone access has not been "
                               "granted yet."),
                QStringLiteral("Grant microphone access, then try again.")};
    case DictationFailure::Kind::micPermissionDenied:
        return {QStringLiteral("ZQ-MIC-PERMISSION"), QStringLiteral("Microphone access is off"),
                QStringLiteral("ZEPA QUARN cannot listen while microphone access is disabled."),
                QStringLiteral("Turn ZEPA QUARN on in Settings \u2192 Privacy \u2192 Microphone.")};
    case DictationFailure::Kind::micUnavailable:
        return {QStringLiteral("ZQ-MIC-UNAVAILABLE"), QStringLiteral("Microphone unavailable"),
                QStringLiteral("The selected microphone could not be opened."),
                QStringLiteral("Check that the microphone is connected, then try again.")};
    case DictationFailure::Kind::noAudio:
        return {QStringLiteral("ZQ-MIC-NO-AUDIO"), QStringLiteral("No audio was captured"),
                QStringLiteral("The recording started, but no sound reached ZEPA QUARN."),
                QStringLiteral("Check the microphone selected under Audio, then try again.")};
    case DictationFailure::Kind::pasteBlocked:
        // The pill's words: on this desktop no application blocks a paste, the window just did not take it.
        return {QStringLiteral("ZQ-PASTE-BLOCKED"), QStringLiteral("Transcript copied"),
                QStringLiteral("The window you were using did not take the automatic paste, but your transcript is "
                               "safe on the clipboard."),
                QStringLiteral("Press %1 to insert it.").arg(pasteChord)};
    case DictationFailure::Kind::timedOut:
        return timedOutPresentation();
    case DictationFailure::Kind::micLost:
        return {QStringLiteral("ZQ-MIC-LOST"), QStringLiteral("Microphone lost"),
                QStringLiteral("The microphone stopped during the recording and no other input was available."),
                QStringLiteral("What was heard before it stopped was inserted. Check the microphone, then dictate "
                               "the rest.")};
    case DictationFailure::Kind::transcription:
        break;
    }
    return transcriptionIncidentPresentation(failure.message(), engine);
}

IncidentPresentation transcriptionIncidentPresentation(const QString &errorMessage, const QString &engine)
{
    const QString text = errorMessage.toLower();
    const auto has = [&](const char *part) { return text.contains(QLatin1String(part)); };

    if (has("no openai api key"))
        return {QStringLiteral("ZQ-TX-NO-KEY"), QStringLiteral("OpenAI needs an API key"),
                QStringLiteral("ZEPA QUARN could not send the recording because no OpenAI API key is saved."),
                QStringLiteral("Add an API key under Transcription, then try again.")};
    if (has("keyring could not be read"))
        return {QStringLiteral("ZQ-TX-KEYRING"), QStringLiteral("The keyring could not be read"),
                QStringLiteral("ZEPA QUARN could not read the saved OpenAI API key because the keyring (Secret "
                               "Service) did not answer or is locked."),
                QStringLiteral("Your recording was kept. Start or unlock the keyring, then retry the transcription.")};
    if (has("rejected the api key"))
        return {QStringLiteral("ZQ-TX-AUTH"), QStringLiteral("OpenAI rejected the API key"),
                QStringLiteral("The saved API key was not accepted by OpenAI."),
                QStringLiteral("Replace or test the key under Transcription, then try again.")};
    // A service that never answered timed out; that is not a failed connection.
    if (has("did not answer in time"))
        return timedOutPresentation();
    if (has("network error") || has("connection"))
        return {QStringLiteral("ZQ-TX-NETWORK"), QStringLiteral("Could not reach the transcription service"),
                QStringLiteral("The recording could not be transcribed because the network connection failed."),
                QStringLiteral("Your recording was kept. Check your connection, then retry the transcription.")};
    if (has("openai unavailable") || has("http 429"))
        return {QStringLiteral("ZQ-TX-SERVICE"), QStringLiteral("OpenAI is temporarily unavailable"),
                QStringLiteral("OpenAI could not transcribe the recording right now."),
                QStringLiteral("Your recording was kept. Retry the transcription later.")};
    // The on-device engine's own text names the machine; both wordings of it are recognised.
    if (has("isn't available on this mac") || has("isn't available on this computer"))
        return {QStringLiteral("ZQ-TX-LOCAL-UNAVAILABLE"), QStringLiteral("On-device transcription is unavailable"),
                QStringLiteral("This computer cannot use the selected on-device transcription engine."),
                QStringLiteral("Choose OpenAI under Transcription, or try a supported language.")};
    if (text.startsWith(QLatin1String("openai error:")) || has("rejected the request") || has("http response"))
        return {QStringLiteral("ZQ-TX-REQUEST"), QStringLiteral("OpenAI could not transcribe the recording"),
                QStringLiteral("The transcription request was not accepted."),
                QStringLiteral("Your recording was kept. Retry the transcription, or copy the issue details for "
                               "support.")};
    return {
        backendKindOf(engine) == BackendKind::openai ? QStringLiteral("ZQ-TX-OPENAI") : QStringLiteral("ZQ-TX-LOCAL"),
        QStringLiteral("Transcription failed"), QStringLiteral("ZEPA QUARN could not turn this recording into text."),
        QStringLiteral("Your recording was kept. Retry the transcription, or copy the issue details for support.")};
}

} // namespace zq
