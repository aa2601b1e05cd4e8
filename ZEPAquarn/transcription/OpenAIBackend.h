#pragma once

#include "pipeline/TranscriptionBackend.h"
#include "pipeline/ZEPAError.h"
#include "platform/AudioFormat.h"
#include "platform/HttpClient.h"
#include "runtime/Clocks.h"
#include "runtime/Executor.h"
#include "runtime/Result.h"
#include "transcription/OpenAIPrewarmThrottle.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace zq {

// The OpenAI transcription engine: a finished take file is shrunk to a 16 kHz mono 16-bit copy in
// the private take folder (the take file itself is sent when that fails), posted once to
// /v1/audio/transcriptions with at most one retry after 1 s, and answered with one `final` update.
//
// transcribe() may be called from any thread and returns at once; the work runs in a task on the
// given loop (blocking steps on worker threads), so the stream is consumed from a task on that loop.
// Cancelling the stream aborts the request. The upload copy is removed in every outcome. Failures
// end the stream with a ZEPAError: wrongAudioSource for a live source, noAPIKey without a usable
// key, otherwise transcriptionFailed with one of the texts in OpenAIBackend.cpp (among them a
// keyring that cannot be read, and an answer longer than the reply bound).
class OpenAIBackend final : public TranscriptionBackend {
public:
    // Returns the stored key, or nothing; an error when the store itself could not be read (then
    // the take fails with its own message, not as a missing key). Called on a worker thread.
    using APIKeyReader = std::function<rt::Result<std::optional<QString>>()>;

    struct Config {
        QString uploadDir; // where the 16 kHz copy is written: the private take folder
        APIKeyReader readAPIKey;
        // Without one nothing is sent: every request fails as a network error.
        std::shared_ptr<const platform::HttpClient> http;
        QUrl baseUrl = serviceBaseUrl();
        std::chrono::milliseconds requestTimeout{60000};
        std::chrono::milliseconds prewarmTimeout{10000};
        // The system's language code ("en"); read when the language setting is "auto".
        std::function<QString()> systemLanguageCode = currentSystemLanguageCode;
    };

    static inline const QString model = QStringLiteral("gpt-4o-mini-transcribe");

    OpenAIBackend(rt::MainLoop &loop, Config config);

    rt::AsyncChannel<TranscriptUpdate> transcribe(AudioSource source, QString language,
                                                  QStringList dictionary) override;

    // The service's address. Test-only override: the environment variable
    // ZQ_OPENAI_BASE_URL_FOR_TESTS (set by the test harness, never a user setting) replaces it.
    static QUrl serviceBaseUrl();
    static QString currentSystemLanguageCode();

    // The "language" field to send: the setting unchanged, or for "auto" the system's code when it
    // has exactly two letters; nothing lets the service detect the language.
    static std::optional<QString> resolvedLanguage(const QString &language, const QString &systemLanguageCode);
    // The "prompt" field: the verbatim instruction, then the dictionary words when there are any.
    static QString prompt(const QStringList &dictionary);

    // The key as the request will carry it. Surrounding blanks and line breaks are trimmed (the
    // settings page trims them too); a key that is then empty is `noAPIKey`, and a key with a
    // control character or line break inside is refused as a rejected key, so that it can never
    // split or extend the Authorization header.
    struct APIKeyCheck {
        QString key;
        std::optional<ZEPAError> problem;
    };
    static APIKeyCheck checkAPIKey(const std::optional<QString> &stored);

    // 16 kHz, mono, 16-bit little-endian integer PCM.
    static platform::AudioFormat wavSettings();
    // Writes the 16 kHz copy of the take to `copyPath`, block by block. Fails with the reason
    // (unreadable take, no converter, a read or write error); a partial copy is removed then, and
    // also when a stop is requested.
    static rt::Result<void> transcodeTo16kWav(const QString &takePath, const QString &copyPath,
                                              std::stop_token stop = {});

    // Starts a connection warm-up in the background unless one started in the last 60 s of system
    // uptime. Callable from any thread; returns whether one was started.
    static bool prewarmIfNeeded(const Config &config, const rt::Clocks &clocks,
                                OpenAIPrewarmThrottle &throttle = OpenAIPrewarmThrottle::shared());
    // Ends the warm-ups of `throttle` that still wait for the service, and any later ones: the
    // application's quit waits for them otherwise (up to their timeout).
    static void stopPrewarms(OpenAIPrewarmThrottle &throttle = OpenAIPrewarmThrottle::shared());
    // The warm-up itself, blocking: GET /v1/models with the key. Returns the HTTP status, -1 when
    // the request failed, or nothing when there was no usable key and no request was made.
    static std::optional<int> prewarm(const Config &config, std::stop_token stop = {});

private:
    rt::MainLoop &m_loop;
    Config m_config;
};

} // namespace zq
