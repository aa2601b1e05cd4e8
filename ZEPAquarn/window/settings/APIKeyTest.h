#pragma once

#include "platform/HttpClient.h"
#include "runtime/Task.h"
#include "window/settings/SettingsPageText.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

namespace zq {

// The Transcription page's check of the stored OpenAI API key: one GET of /v1/models on the API
// host, answered as one result line.
struct APIKeyTestConfig {
    QUrl baseUrl;                                     // the API host the transcription client uses
    std::chrono::milliseconds timeout{15000};         // the request fails after this long without an answer
    std::shared_ptr<const platform::HttpClient> http; // without one the test ends as a network error
};

// The result line for the exchange's outcome: "✓ Key valid" for 200, "✗ Invalid key (401)" or
// "(403)", "✗ HTTP " and the status for any other answer (-1 when it was not HTTP), and
// "✗ Network error" when no answer came.
RowStatus apiKeyTestResult(const platform::HttpOutcome &outcome);

// Tests `storedKey` (what the keyring holds, none when nothing is stored). A missing or blank key
// gives "✗ No key saved" and a key that cannot go into a request header (a line break or control
// character inside) "✗ Invalid key", both without a request. The request runs on a worker thread;
// the task resumes on its loop.
rt::Task<RowStatus> testAPIKey(std::optional<QString> storedKey, APIKeyTestConfig config);

} // namespace zq
