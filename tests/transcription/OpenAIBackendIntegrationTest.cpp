// The OpenAI engine against a real HTTP server on 127.0.0.1: what goes over the wire, and what
// each kind of answer turns into.
#include "transcription/OpenAIBackend.h"

#include "platform/linux/QtHttpClient.h"
#include "support/LoopbackTranscriptionServer.h"
#include "support/OpenAITestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtEndian>

#include <gtest/gtest.h>

#include <fstream>

using namespace std::chrono_literals;
using zq::AudioSource;
using zq::OpenAIBackend;
using zq::TranscriptUpdate;
using zq::test::LoopbackTranscriptionServer;
using Answer = zq::test::LoopbackTranscriptionServer::Answer;

namespace {

const QString rejectedKeyText = QStringLiteral("OpenAI rejected the API key — check Settings");

struct WavInfo {
    int formatTag = 0;
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    qint64 dataBytes = -1;
};

// Walks the RIFF chunks of a WAV file's leading bytes.
WavInfo parseWav(const QByteArray &bytes)
{
    WavInfo info;
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return info;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        const char *payload = bytes.constData() + at + 8;
        if (id == "fmt " && at + 8 + 16 <= bytes.size()) {
            info.formatTag = qFromLittleEndian<quint16>(payload);
            info.channels = qFromLittleEndian<quint16>(payload + 2);
            info.sampleRate = static_cast<int>(qFromLittleEndian<quint32>(payload + 4));
            info.bitsPerSample = qFromLittleEndian<quint16>(payload + 14);
        } else if (id == "data") {
            info.dataBytes = size;
            return info;
        }
        at += 8 + size + (size & 1);
    }
    return info;
}

class OpenAIBackendIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start()) << server.errorString().toStdString();
        ASSERT_TRUE(folder.isValid());
        QDir().mkpath(uploadDir());
        config.uploadDir = uploadDir();
        config.readAPIKey = [this]() -> std::optional<QString> { return storedKey; };
        config.baseUrl = QUrl(server.baseUrl());
        config.http = std::make_shared<zq::platform::QtHttpClient>();
        config.requestTimeout = 1500ms;
        config.systemLanguageCode = [] { return QStringLiteral("en"); };
        server.setOnRequest([this](const LoopbackTranscriptionServer::Request &) {
            std::lock_guard lock(arrivalsMutex);
            arrivals.push_back(loop.now());
        });
        takePath = folder.filePath(QStringLiteral("take-1.wav"));
        zq::test::writeTake(takePath, 1.5);
    }

    QString uploadDir() const { return folder.filePath(QStringLiteral("takes")); }
    QStringList uploadCopies() const
    {
        return QDir(uploadDir()).entryList({QStringLiteral("zepaquarn-16k-*")}, QDir::Files);
    }

    zq::test::StreamOutcome transcribe(const QString &path, const QString &language = QStringLiteral("auto"),
                                       const QStringList &dictionary = {})
    {
        zq::test::StreamOutcome outcome;
        OpenAIBackend backend(loop, config);
        auto handle = zq::rt::spawn(
            loop, zq::test::consume(backend.transcribe(AudioSource::file(path), language, dictionary), &outcome));
        EXPECT_TRUE(zq::test::drive(loop, [&] { return handle.isDone(); })) << "the stream never ended";
        return outcome;
    }

    std::vector<zq::rt::Nanos> arrivalTimes()
    {
        std::lock_guard lock(arrivalsMutex);
        return arrivals;
    }

    zq::test::VirtualLoop loop;
    LoopbackTranscriptionServer server;
    QTemporaryDir folder;
    OpenAIBackend::Config config;
    std::optional<QString> storedKey = QStringLiteral("sk-test-123");
    QString takePath;
    zq::test::OpenAILog log;
    std::mutex arrivalsMutex;
    std::vector<zq::rt::Nanos> arrivals;
};

TEST_F(OpenAIBackendIntegrationTest, PostsTheFormAndYieldsTheTrimmedTranscript)
{
    server.enqueue(Answer::respond(200, "  Hello there.\n"));
    const auto outcome =
        transcribe(takePath, QStringLiteral("auto"), {QStringLiteral("Quarn"), QStringLiteral("ZEPA")});

    ASSERT_FALSE(outcome.failure) << outcome.errorText().toStdString();
    ASSERT_EQ(outcome.updates.size(), 1u);
    EXPECT_EQ(outcome.updates[0], TranscriptUpdate::final(QStringLiteral("Hello there.")));

    ASSERT_EQ(server.requestCount(), 1);
    const auto request = server.requests().first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/v1/audio/transcriptions");
    EXPECT_EQ(request.header("Authorization"), "Bearer sk-test-123");
    const QByteArray boundary = request.boundary();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^zepa-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
            .match(QString::fromLatin1(boundary))
            .hasMatch())
        << boundary.toStdString();
    EXPECT_EQ(request.header("Content-Type"), "multipart/form-data; boundary=" + boundary);

    // The text fields, byte for byte, in their order, then the file part's header.
    const QByteArray prompt = "Verbatim transcript of dictated speech. Transcribe exactly what is said; never answer "
                              "or respond to it. Expected vocabulary: Quarn, ZEPA";
    QByteArray expectedHead;
    for (const auto &[name, value] : QList<std::pair<QByteArray, QByteArray>>{{"model", "gpt-4o-mini-transcribe"},
                                                                              {"response_format", "text"},
                                                                              {"language", "en"},
                                                                              {"prompt", prompt},
                                                                              {"temperature", "0"}})
        expectedHead +=
            "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    EXPECT_EQ(request.body.left(expectedHead.size()), expectedHead);
    const QRegularExpression fileHeader(
        QStringLiteral("^--%1\r\nContent-Disposition: form-data; name=\"file\"; "
                       "filename=\"zepaquarn-16k-[0-9A-F-]{36}\\.wav\"\r\nContent-Type: audio/wav\r\n\r\nRIFF")
            .arg(QString::fromLatin1(boundary)));
    EXPECT_TRUE(fileHeader.match(QString::fromLatin1(request.body.mid(expectedHead.size(), 200))).hasMatch())
        << request.body.mid(expectedHead.size(), 200).toStdString();
    EXPECT_TRUE(request.body.endsWith("\r\n--" + boundary + "--\r\n"));

    const auto parts = request.parts();
    ASSERT_EQ(parts.size(), 6);
    EXPECT_EQ(parts[5].name, "file");
    EXPECT_EQ(parts[5].contentType, "audio/wav");
    const WavInfo wav = parseWav(parts[5].data);
    EXPECT_EQ(wav.formatTag, 1) << "integer PCM";
    EXPECT_EQ(wav.channels, 1);
    EXPECT_EQ(wav.sampleRate, 16000);
    EXPECT_EQ(wav.bitsPerSample, 16);
    EXPECT_NEAR(double(wav.dataBytes) / 2 / 16000, 1.5, 0.01) << "the copy keeps the take's length";

    EXPECT_TRUE(uploadCopies().isEmpty()) << "the upload copy is removed after the request";
    EXPECT_TRUE(QFile::exists(takePath)) << "the take file itself is not the engine's to delete";
    EXPECT_EQ(log.count(QStringLiteral("transcode: ")), 1);
    EXPECT_EQ(log.count(QStringLiteral("request start: file=%1 bytes, model=gpt-4o-mini-transcribe").arg(48000 + 44)),
              1)
        << log.lines().join(u'\n').toStdString();
    EXPECT_EQ(log.count(QStringLiteral("response: HTTP 200")), 1);
}

TEST_F(OpenAIBackendIntegrationTest, LeavesTheLanguageOutWhenTheSystemCodeIsNotTwoLetters)
{
    config.systemLanguageCode = [] { return QStringLiteral("yue"); };
    const auto outcome = transcribe(takePath);
    ASSERT_FALSE(outcome.failure) << outcome.errorText().toStdString();
    QList<QByteArray> names;
    for (const auto &part : server.requests().first().parts())
        names.append(part.name);
    EXPECT_EQ(names, (QList<QByteArray>{"model", "response_format", "prompt", "temperature", "file"}));
}

TEST_F(OpenAIBackendIntegrationTest, UsesTheTrimmedKeyAndRefusesOneThatCouldBreakTheHeader)
{
    storedKey = QStringLiteral("  sk-test-123\n");
    ASSERT_FALSE(transcribe(takePath).failure);
    EXPECT_EQ(server.requests().first().header("Authorization"), "Bearer sk-test-123");

    for (const QString &bad :
         {QStringLiteral("sk-a\r\nX-Injected: 1"), QStringLiteral("sk-a\tb"), QStringLiteral("sk-\u2028b")}) {
        storedKey = bad;
        const auto outcome = transcribe(takePath);
        EXPECT_EQ(outcome.errorText(), rejectedKeyText);
        EXPECT_TRUE(uploadCopies().isEmpty());
    }
    EXPECT_EQ(server.requestCount(), 1) << "a refused key sends nothing";
}

TEST_F(OpenAIBackendIntegrationTest, WithoutAKeyTheCopyIsStillMadeAndThenRemoved)
{
    for (const std::optional<QString> &missing :
         {std::optional<QString>(), std::optional<QString>(QString()), std::optional<QString>(QStringLiteral(" \n"))}) {
        storedKey = missing;
        const auto outcome = transcribe(takePath);
        EXPECT_EQ(outcome.errorText(), zq::ZEPAError::noAPIKey().errorDescription());
        EXPECT_TRUE(uploadCopies().isEmpty());
    }
    EXPECT_EQ(log.count(QStringLiteral("transcode: ")), 3) << "the copy is made before the key is read";
    EXPECT_EQ(server.requestCount(), 0);
}

TEST_F(OpenAIBackendIntegrationTest, AnAnswerBeyondTheBoundFailsCleanlyAndKeepsTheTake)
{
    // Ten megabytes of "text" with a 200: never read whole, never a transcript, never retried.
    server.enqueue(Answer::respond(200, QByteArray(10 * 1024 * 1024, 'a')));
    const auto outcome = transcribe(takePath);
    EXPECT_TRUE(outcome.updates.empty());
    EXPECT_TRUE(outcome.errorText().contains(QStringLiteral("far longer than any transcript")))
        << outcome.errorText().toStdString();
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_TRUE(QFile::exists(takePath)) << "the recording stays for the incident";
    EXPECT_TRUE(uploadCopies().isEmpty());

    // An answer that announces gigabytes is cut off as it arrives, not waited for to the end: the
    // server gives up after 2 MB, which a client reading everything would take for a lost network.
    server.enqueue(Answer::raw("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 8000000000\r\n\r\n" +
                               QByteArray(2 * 1024 * 1024, 'c')));
    const auto announced = transcribe(takePath);
    EXPECT_TRUE(announced.updates.empty());
    EXPECT_TRUE(announced.errorText().contains(QStringLiteral("far longer than any transcript")))
        << announced.errorText().toStdString();
    EXPECT_EQ(server.requestCount(), 2) << "not retried";
    EXPECT_TRUE(QFile::exists(takePath));

    // Just under the bound is still a transcript.
    server.enqueue(Answer::respond(200, QByteArray(1024 * 1024 - 1, 'b')));
    const auto bounded = transcribe(takePath);
    ASSERT_FALSE(bounded.failure) << bounded.errorText().toStdString();
    ASSERT_EQ(bounded.updates.size(), 1u);
    EXPECT_EQ(bounded.updates[0].text.size(), 1024 * 1024 - 1);
}

TEST_F(OpenAIBackendIntegrationTest, AKeyringThatCannotBeReadIsNotAMissingKey)
{
    config.readAPIKey = [] {
        return zq::rt::Result<std::optional<QString>>(zq::rt::makeError(QStringLiteral("unreachable")));
    };
    const auto outcome = transcribe(takePath);
    EXPECT_NE(outcome.errorText(), zq::ZEPAError::noAPIKey().errorDescription());
    EXPECT_TRUE(outcome.errorText().contains(QStringLiteral("keyring"))) << outcome.errorText().toStdString();
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_TRUE(QFile::exists(takePath));
    EXPECT_TRUE(uploadCopies().isEmpty());
}

TEST_F(OpenAIBackendIntegrationTest, AnUnconvertibleTakeIsUploadedAsItIs)
{
    const QString notAudio = folder.filePath(QStringLiteral("take-2.wav"));
    QFile file(notAudio);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a wav at all");
    file.close();

    const auto outcome = transcribe(notAudio);

    ASSERT_FALSE(outcome.failure) << outcome.errorText().toStdString();
    const auto parts = server.requests().first().parts();
    ASSERT_EQ(parts.size(), 6);
    EXPECT_EQ(parts[5].fileName, "take-2.wav");
    EXPECT_EQ(parts[5].data, "not a wav at all");
    EXPECT_EQ(log.count(QStringLiteral("transcode failed (")), 1);
    EXPECT_EQ(log.count(QStringLiteral("transcode: ")), 0);
    EXPECT_TRUE(uploadCopies().isEmpty()) << "no half-written copy is left behind";
}

TEST_F(OpenAIBackendIntegrationTest, AMissingTakeFailsWithoutARequest)
{
    const auto outcome = transcribe(folder.filePath(QStringLiteral("gone.wav")));
    EXPECT_TRUE(outcome.errorText().startsWith(QStringLiteral("Cannot read the recording")))
        << outcome.errorText().toStdString();
    EXPECT_EQ(server.requestCount(), 0);
}

TEST_F(OpenAIBackendIntegrationTest, CancellingTheStreamAbortsTheRequestWithoutARetry)
{
    server.setDefaultAnswer(Answer::hang());
    config.requestTimeout = 60s;
    zq::test::StreamOutcome outcome;
    OpenAIBackend backend(loop, config);
    auto handle = zq::rt::spawn(
        loop, zq::test::consume(backend.transcribe(AudioSource::file(takePath), QStringLiteral("auto"), {}), &outcome));
    ASSERT_TRUE(zq::test::drive(loop, [&] { return server.requestCount() == 1; }));

    handle.cancel();
    ASSERT_TRUE(zq::test::drive(loop, [&] { return handle.isDone(); }));
    EXPECT_EQ(outcome.errorText(), QStringLiteral("<cancelled>"));
    EXPECT_TRUE(zq::test::drive(
        loop, [&] { return uploadCopies().isEmpty(); }, 5s))
        << "the copy is removed on cancel";
    loop.advance(5s);
    EXPECT_EQ(server.requestCount(), 1);
}

TEST_F(OpenAIBackendIntegrationTest, PrewarmAsksForTheModelsWithTheKey)
{
    server.enqueue(Answer::respond(200, "{}"));
    EXPECT_EQ(OpenAIBackend::prewarm(config), 200);
    const auto request = server.requests().first();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/v1/models");
    EXPECT_EQ(request.header("Authorization"), "Bearer sk-test-123");
    EXPECT_EQ(log.count(QStringLiteral("prewarm: HTTP 200")), 1);

    server.enqueue(Answer::hang());
    config.prewarmTimeout = 300ms;
    EXPECT_EQ(OpenAIBackend::prewarm(config), -1) << "a warm-up that gets no answer reports -1";
    EXPECT_EQ(log.count(QStringLiteral("prewarm: HTTP -1")), 1);

    storedKey.reset();
    const int before = server.requestCount();
    EXPECT_EQ(OpenAIBackend::prewarm(config), std::nullopt);
    EXPECT_EQ(server.requestCount(), before) << "no key, no warm-up";
}

TEST_F(OpenAIBackendIntegrationTest, AWarmUpWaitingOnASilentServiceEndsWhenStopped)
{
    // The application's quit waits for warm-ups: one that waits its full timeout holds it up.
    server.setDefaultAnswer(Answer::hang());
    config.prewarmTimeout = 60s;
    zq::OpenAIPrewarmThrottle throttle;
    zq::rt::SystemClocks clocks;
    ASSERT_TRUE(OpenAIBackend::prewarmIfNeeded(config, clocks, throttle));
    ASSERT_TRUE(server.waitForRequestCount(1, 10s));
    OpenAIBackend::stopPrewarms(throttle);
    EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(5000)) << "the warm-up still waits for its answer";
    EXPECT_EQ(log.count(QStringLiteral("prewarm: HTTP -1")), 1);
}

// Resident memory of this process from /proc, in KiB; -1 when it cannot be read.
qint64 memoryKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(QByteArray(field) + ':'))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Starts a fresh peak (VmHWM) measurement; false when the kernel does not allow it.
bool resetPeakMemory()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    return !clear.fail() && memoryKiB("VmHWM") >= 0;
}

TEST_F(OpenAIBackendIntegrationTest, ATenMinuteTakeIsStreamedFromDisk)
{
    const QString longTake = folder.filePath(QStringLiteral("long.wav"));
    zq::test::writeTake(longTake, 600, 48000, 1);
    server.setBodyCaptureLimit(4096);
    if (!resetPeakMemory())
        GTEST_SKIP() << "this kernel cannot reset the peak memory figure";
    const qint64 before = memoryKiB("VmRSS");

    const auto outcome = transcribe(longTake);

    ASSERT_FALSE(outcome.failure) << outcome.errorText().toStdString();
    const qint64 growthBytes = (memoryKiB("VmHWM") - before) * 1024;
    const qint64 copyBytes = 600 * 16000 * 2;
    const auto request = server.requests().first();
    const qsizetype riff = request.body.indexOf("RIFF");
    ASSERT_GT(riff, 0);
    EXPECT_EQ(parseWav(request.body.mid(riff)).dataBytes, copyBytes) << "ten minutes at 16 kHz, 16-bit";
    EXPECT_GT(request.bodyLength, copyBytes);
    EXPECT_LT(growthBytes, copyBytes / 2) << "peak memory grew by " << growthBytes << " bytes for a " << copyBytes
                                          << " byte upload: the upload must stream from disk";
}

struct ExchangeCase {
    const char *name;
    std::vector<Answer> answers;
    QString expectedText;  // the final text, when the call succeeds
    QString expectedError; // the error text, when it fails
    int expectedRequests;
    int retryLines; // "retrying after ..." log lines
};

void PrintTo(const ExchangeCase &c, std::ostream *os)
{
    *os << c.name;
}

class OpenAIExchangeTest : public OpenAIBackendIntegrationTest, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(OpenAIExchangeTest, GivesTheResultOrErrorWithAtMostOneRetry)
{
    const ExchangeCase &c = GetParam();
    for (const Answer &answer : c.answers)
        server.enqueue(answer);
    // Anything beyond the script would show up as an extra request with this text.
    server.setDefaultAnswer(Answer::respond(200, "a request too many"));

    const auto outcome = transcribe(takePath);

    if (c.expectedError.isEmpty()) {
        ASSERT_FALSE(outcome.failure) << outcome.errorText().toStdString();
        ASSERT_EQ(outcome.updates.size(), 1u);
        EXPECT_EQ(outcome.updates[0], TranscriptUpdate::final(c.expectedText));
    } else {
        EXPECT_TRUE(outcome.updates.empty()) << "no update precedes a failure";
        EXPECT_EQ(outcome.errorText(), c.expectedError);
    }
    EXPECT_EQ(server.requestCount(), c.expectedRequests);
    const int retries = log.count(QStringLiteral("retrying after "));
    EXPECT_EQ(retries, c.retryLines) << log.lines().join(u'\n').toStdString();
    const auto times = arrivalTimes();
    if (times.size() == 2) {
        EXPECT_EQ(times[1] - times[0], zq::rt::Nanos(1s)) << "the retry comes 1 s after the first answer";
    }
    EXPECT_TRUE(uploadCopies().isEmpty()) << "the upload copy is removed in every outcome";
}

const QString unavailable = QStringLiteral("OpenAI unavailable (HTTP %1)");
const QString rejectedKey = QStringLiteral("OpenAI rejected the API key — check Settings");
const QString networkError = QStringLiteral("Network error — check your connection");
const QString noAnswer = QStringLiteral("OpenAI did not answer in time");
const QString notATranscript = QStringLiteral("OpenAI answered with something that is not a transcript");

// A 200 answer with this Content-Type line (none when empty).
Answer okWithType(const QByteArray &contentType, const QByteArray &body)
{
    QByteArray head = "HTTP/1.1 200 OK\r\n";
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    return Answer::raw(head + "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
                       body);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, OpenAIExchangeTest,
    ::testing::Values(
        ExchangeCase{"ok", {Answer::respond(200, "done")}, "done", {}, 1, 0},
        ExchangeCase{"whitespaceOnly", {Answer::respond(200, " \n\t ")}, "", {}, 1, 0},
        ExchangeCase{"emptyBody", {Answer::respond(200, "")}, "", {}, 1, 0},
        ExchangeCase{"malformedUtf8", {Answer::respond(200, "caf\xC3 ok")}, QStringLiteral("caf\uFFFD ok"), {}, 1, 0},
        ExchangeCase{"unauthorized", {Answer::respond(401, "no")}, {}, rejectedKey, 1, 0},
        ExchangeCase{"forbidden", {Answer::respond(403, "no")}, {}, rejectedKey, 1, 0},
        ExchangeCase{
            "notFound", {Answer::respond(404)}, {}, QStringLiteral("OpenAI rejected the request (HTTP 404)"), 1, 0},
        ExchangeCase{
            "badRequest", {Answer::respond(400)}, {}, QStringLiteral("OpenAI rejected the request (HTTP 400)"), 1, 0},
        ExchangeCase{"tooManyTwice", {Answer::respond(429), Answer::respond(429)}, {}, unavailable.arg(429), 2, 1},
        ExchangeCase{"serverErrorTwice", {Answer::respond(500), Answer::respond(500)}, {}, unavailable.arg(500), 2, 1},
        ExchangeCase{"unavailableThenOk", {Answer::respond(503), Answer::respond(200, "second")}, "second", {}, 2, 1},
        ExchangeCase{
            "serverErrorThenUnauthorized", {Answer::respond(500), Answer::respond(401)}, {}, rejectedKey, 2, 1},
        ExchangeCase{"droppedThenOk", {Answer::drop(), Answer::respond(200, "after drop")}, "after drop", {}, 2, 1},
        ExchangeCase{"droppedTwice", {Answer::drop(), Answer::drop()}, {}, networkError, 2, 1},
        ExchangeCase{"noAnswerThenOk", {Answer::hang(), Answer::respond(200, "late")}, "late", {}, 2, 1},
        // A service that never answers timed out: said so, not blamed on the connection.
        ExchangeCase{"noAnswerTwice", {Answer::hang(), Answer::hang()}, {}, noAnswer, 2, 1},
        ExchangeCase{"serverErrorThenNoAnswer", {Answer::respond(500), Answer::hang()}, {}, noAnswer, 2, 1},
        ExchangeCase{"noAnswerThenDropped", {Answer::hang(), Answer::drop()}, {}, networkError, 2, 1},
        // Only a plain-text answer is a transcript; anything else fails at once and is never retried.
        ExchangeCase{"plainTextWithoutCharset", {okWithType("text/plain", "plain")}, "plain", {}, 1, 0},
        ExchangeCase{"plainTextOtherCase", {okWithType("Text/Plain ; charset=UTF-8", "cased")}, "cased", {}, 1, 0},
        ExchangeCase{
            "halfAJson", {okWithType("application/json", "{\"text\": \"half a json")}, {}, notATranscript, 1, 0},
        ExchangeCase{"noContentType", {okWithType({}, "untyped")}, {}, notATranscript, 1, 0},
        ExchangeCase{"htmlPage", {okWithType("text/html; charset=utf-8", "<p>hi</p>")}, {}, notATranscript, 1, 0},
        ExchangeCase{"droppedThenUnavailable", {Answer::drop(), Answer::respond(503)}, {}, unavailable.arg(503), 2, 1}),
    [](const ::testing::TestParamInfo<ExchangeCase> &info) { return std::string(info.param.name); });

} // namespace
