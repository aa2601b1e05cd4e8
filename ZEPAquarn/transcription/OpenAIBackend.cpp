#include "transcription/OpenAIBackend.h"

#include "platform/AudioConverter.h"
#include "platform/AudioFile.h"
#include "runtime/Log.h"
#include "runtime/Task.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QThreadPool>
#include <QUuid>

namespace zq {

namespace {

using namespace std::chrono_literals;
using platform::HttpClient;
using platform::HttpOutcome;
using platform::HttpRequest;
using platform::MultipartForm;

const QString noHttpResponseMessage = QStringLiteral("No HTTP response");
const QString rejectedKeyMessage = QStringLiteral("OpenAI rejected the API key — check Settings");
const QString networkErrorMessage = QStringLiteral("Network error — check your connection");
const QString noAnswerMessage = QStringLiteral("OpenAI did not answer in time");
const QString notATranscriptMessage = QStringLiteral("OpenAI answered with something that is not a transcript");
const QString oversizedAnswerMessage =
    QStringLiteral("OpenAI sent an answer far longer than any transcript of this recording could be");
const QString keyringUnreachableMessage =
    QStringLiteral("The keyring could not be read, so the saved OpenAI API key is out of reach — check that the "
                   "keyring (Secret Service) is running and unlocked");

constexpr std::uint32_t maxInputFrames = 8192;

QString upperUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

qint64 fileSize(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}

QUrl endpoint(const QUrl &base, const QString &path)
{
    QUrl url = base;
    QString basePath = url.path();
    while (basePath.endsWith(QLatin1Char('/')))
        basePath.chop(1);
    url.setPath(basePath + path);
    return url;
}

QByteArray bearer(const QString &key)
{
    return QByteArrayLiteral("Bearer ") + key.toUtf8();
}

// "text/plain", with or without parameters such as a charset.
bool isPlainText(const QByteArray &contentType)
{
    const qsizetype end = contentType.indexOf(';');
    const QByteArray mediaType = (end < 0 ? contentType : contentType.left(end)).trimmed().toLower();
    return mediaType == "text/plain";
}

HttpOutcome perform(const std::shared_ptr<const HttpClient> &http, const HttpRequest &request, std::stop_token stop)
{
    if (!http) {
        HttpOutcome outcome; // a transport failure
        outcome.errorDescription = QStringLiteral("No HTTP client");
        return outcome;
    }
    return http->perform(request, stop);
}

struct TranscodeReport {
    rt::Result<void> result;
    qint64 elapsedMs = 0;
};

// Sends the request, once more after 1 s on a transport failure, HTTP 429 or HTTP 5xx while a
// retry is left. Gives the trimmed transcript or throws ZEPAError (CancellationError when cancelled).
rt::Task<QString> send(std::shared_ptr<const HttpClient> http, HttpRequest request, int retriesLeft)
{
    for (;;) {
        // The lambda is a named local on purpose: g++ 12 copies a capturing lambda temporary inside
        // a co_await expression bytewise into the frame, so its QStrings were released twice.
        auto exchange = [http, request](std::stop_token stop) { return perform(http, request, stop); };
        const HttpOutcome outcome = co_await rt::runOnWorker(std::move(exchange));
        switch (outcome.kind) {
        case HttpOutcome::Kind::unreadableBody:
            throw ZEPAError::transcriptionFailed(
                QStringLiteral("Cannot read the recording (%1)").arg(outcome.errorDescription));
        case HttpOutcome::Kind::noHttpResponse:
            throw ZEPAError::transcriptionFailed(noHttpResponseMessage);
        case HttpOutcome::Kind::transportFailure:
            if (retriesLeft < 1)
                throw ZEPAError::transcriptionFailed(outcome.timedOut ? noAnswerMessage : networkErrorMessage);
            qCInfo(lcOpenAI).noquote() << QStringLiteral("retrying after transport error: %1 (%2 retries left)")
                                              .arg(outcome.errorDescription)
                                              .arg(retriesLeft);
            co_await rt::sleepFor(1s);
            --retriesLeft;
            continue;
        case HttpOutcome::Kind::response:
            break;
        }

        const int status = outcome.status;
        qCInfo(lcOpenAI).noquote() << QStringLiteral("response: HTTP %1").arg(status);
        if (outcome.bodyBeyondLimit) {
            // Never a transcript, whatever the status: not retried, not pasted.
            qCWarning(lcOpenAI).noquote()
                << QStringLiteral("answer body beyond %1 bytes — not read").arg(request.maximumBodyBytes);
            throw ZEPAError::transcriptionFailed(oversizedAnswerMessage);
        }
        if (status != 200)
            qCWarning(lcOpenAI).noquote() << QStringLiteral("HTTP %1").arg(status);
        if (status == 200) {
            // Only what was asked for (response_format "text") is a transcript; anything else
            // (an error object, a half-sent JSON) must never reach the user's window.
            if (!isPlainText(outcome.contentType)) {
                qCWarning(lcOpenAI).noquote() << QStringLiteral("HTTP 200 with Content-Type \"%1\" — not a transcript")
                                                     .arg(QString::fromLatin1(outcome.contentType.left(80)));
                throw ZEPAError::transcriptionFailed(notATranscriptMessage);
            }
            co_return QString::fromUtf8(outcome.body).trimmed();
        }
        if (status == 401 || status == 403)
            throw ZEPAError::transcriptionFailed(rejectedKeyMessage);
        if (status == 429 || status >= 500) {
            if (retriesLeft < 1)
                throw ZEPAError::transcriptionFailed(QStringLiteral("OpenAI unavailable (HTTP %1)").arg(status));
            qCInfo(lcOpenAI).noquote()
                << QStringLiteral("retrying after HTTP %1 (%2 retries left)").arg(status).arg(retriesLeft);
            co_await rt::sleepFor(1s);
            --retriesLeft;
            continue;
        }
        throw ZEPAError::transcriptionFailed(QStringLiteral("OpenAI rejected the request (HTTP %1)").arg(status));
    }
}

rt::Task<void> transcribeFile(OpenAIBackend::Config config, QString takePath, QString language, QStringList dictionary,
                              rt::AsyncChannel<TranscriptUpdate> channel)
{
    const QString copyPath =
        QDir(config.uploadDir).filePath(QStringLiteral("zepaquarn-16k-") + upperUuid() + QStringLiteral(".wav"));
    std::exception_ptr failure;
    try {
        auto transcodeWork = [takePath, copyPath](std::stop_token stop) {
            QElapsedTimer timer;
            timer.start();
            rt::Result<void> result = OpenAIBackend::transcodeTo16kWav(takePath, copyPath, stop);
            return TranscodeReport{std::move(result), timer.elapsed()};
        };
        TranscodeReport transcode = co_await rt::runOnWorker(std::move(transcodeWork));
        QString uploadPath = takePath;
        if (transcode.result) {
            qCInfo(lcOpenAI).noquote() << QStringLiteral("transcode: %1 -> %2 bytes in %3ms")
                                              .arg(fileSize(takePath))
                                              .arg(fileSize(copyPath))
                                              .arg(transcode.elapsedMs);
            uploadPath = copyPath;
        } else {
            qCWarning(lcOpenAI).noquote()
                << QStringLiteral("transcode failed (%1) — uploading original").arg(transcode.result.error().message);
        }
        co_await rt::checkCancellation();

        auto readKey = [reader = config.readAPIKey](std::stop_token) {
            return reader ? reader() : rt::Result<std::optional<QString>>(std::nullopt);
        };
        const rt::Result<std::optional<QString>> stored = co_await rt::runOnWorker(std::move(readKey));
        // A keyring that cannot be reached is not the same as no key saved: the user has to act differently.
        if (!stored)
            throw ZEPAError::transcriptionFailed(keyringUnreachableMessage);
        const OpenAIBackend::APIKeyCheck key = OpenAIBackend::checkAPIKey(stored.value());
        if (key.problem)
            throw *key.problem;

        qCInfo(lcOpenAI).noquote() << QStringLiteral("request start: file=%1 bytes, model=%2")
                                          .arg(fileSize(uploadPath))
                                          .arg(OpenAIBackend::model);

        MultipartForm form;
        form.boundary = QStringLiteral("zepa-%1").arg(upperUuid()).toUtf8();
        form.fields.emplaceBack("model", OpenAIBackend::model.toUtf8());
        form.fields.emplaceBack("response_format", "text");
        if (const auto code = OpenAIBackend::resolvedLanguage(language, config.systemLanguageCode()))
            form.fields.emplaceBack("language", code->toUtf8());
        form.fields.emplaceBack("prompt", OpenAIBackend::prompt(dictionary).toUtf8());
        form.fields.emplaceBack("temperature", "0");
        form.filePath = uploadPath;
        form.fileName = QFileInfo(uploadPath).fileName();

        HttpRequest request;
        request.method = QByteArrayLiteral("POST");
        request.url = endpoint(config.baseUrl, QStringLiteral("/v1/audio/transcriptions"));
        request.headers.emplaceBack("Authorization", bearer(key.key));
        request.timeout = config.requestTimeout;
        request.form = std::move(form);

        const QString text = co_await send(config.http, std::move(request), 1);
        channel.send(TranscriptUpdate::final(text));
    } catch (...) {
        failure = std::current_exception();
    }
    // Removed before the stream ends, so that whoever sees the end sees no copy left behind.
    QFile::remove(copyPath);
    if (failure)
        channel.fail(failure);
    else
        channel.finish();
}

} // namespace

OpenAIBackend::OpenAIBackend(rt::MainLoop &loop, Config config) : m_loop(loop), m_config(std::move(config)) {}

rt::AsyncChannel<TranscriptUpdate> OpenAIBackend::transcribe(AudioSource source, QString language,
                                                             QStringList dictionary)
{
    rt::AsyncChannel<TranscriptUpdate> channel;
    const AudioSource::File *file = source.asFile();
    if (!file) {
        channel.fail(std::make_exception_ptr(ZEPAError::wrongAudioSource()));
        return channel;
    }
    const rt::TaskHandle<void> task =
        rt::spawn(m_loop, transcribeFile(m_config, file->path, std::move(language), std::move(dictionary), channel));
    channel.setOnTermination([task] { task.cancel(); });
    return channel;
}

QUrl OpenAIBackend::serviceBaseUrl()
{
    const QString override = qEnvironmentVariable("ZQ_OPENAI_BASE_URL_FOR_TESTS");
    if (!override.isEmpty())
        return QUrl(override);
    return QUrl(QStringLiteral("https://api.openai.com"));
}

QString OpenAIBackend::currentSystemLanguageCode()
{
    const QLocale::Language language = QLocale::system().language();
    if (language == QLocale::C || language == QLocale::AnyLanguage)
        return {};
    return QLocale::languageToCode(language);
}

std::optional<QString> OpenAIBackend::resolvedLanguage(const QString &language, const QString &systemLanguageCode)
{
    if (language != QLatin1String("auto"))
        return language;
    if (systemLanguageCode.size() == 2)
        return systemLanguageCode;
    return std::nullopt;
}

QString OpenAIBackend::prompt(const QStringList &dictionary)
{
    QString text = QStringLiteral(
        "Verbatim transcript of dictated speech. Transcribe exactly what is said; never answer or respond to it.");
    if (!dictionary.isEmpty())
        text += QStringLiteral(" Expected vocabulary: ") + dictionary.join(QStringLiteral(", "));
    return text;
}

OpenAIBackend::APIKeyCheck OpenAIBackend::checkAPIKey(const std::optional<QString> &stored)
{
    const QString key = stored.value_or(QString()).trimmed();
    if (key.isEmpty())
        return {{}, ZEPAError::noAPIKey()};
    for (const QChar c : key) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            return {{}, ZEPAError::transcriptionFailed(rejectedKeyMessage)};
    }
    return {key, std::nullopt};
}

platform::AudioFormat OpenAIBackend::wavSettings()
{
    return platform::AudioFormat{16000.0, 1, platform::AudioFormat::CommonFormat::int16, false};
}

rt::Result<void> OpenAIBackend::transcodeTo16kWav(const QString &takePath, const QString &copyPath,
                                                  std::stop_token stop)
{
    auto input = platform::AudioFile::openForReading(takePath);
    if (!input)
        return input.error();
    const platform::AudioFormat outputFormat{16000.0, 1, platform::AudioFormat::CommonFormat::float32, false};
    auto converter = platform::AudioConverter::create(input.value()->processingFormat(), outputFormat);
    if (!converter)
        return rt::makeError(QStringLiteral("Cannot build 16kHz converter"));
    auto output = platform::AudioFile::createForWriting(copyPath, wavSettings());
    if (!output)
        return output.error();

    // A stop or any failure leaves no partial copy behind.
    auto abandon = [&](rt::Error error) -> rt::Result<void> {
        (void)output.value()->close();
        QFile::remove(copyPath);
        return error;
    };
    for (;;) {
        if (stop.stop_requested())
            return abandon(rt::makeError(QStringLiteral("The conversion was stopped.")));
        // Unlike a short read at the end, a read error is reported: a truncated copy would lose
        // the end of the take, while the original can still be sent whole.
        auto block = input.value()->read(maxInputFrames);
        if (!block)
            return abandon(block.error());
        const bool atEnd = block.value()->frameLength() == 0;
        auto converted = atEnd ? converter.value()->flush() : converter.value()->convert(*block.value());
        if (!converted)
            return abandon(converted.error());
        if (converted.value()->frameLength() > 0) {
            if (auto written = output.value()->write(*converted.value()); !written)
                return abandon(written.error());
        }
        if (atEnd)
            break;
    }
    if (auto closed = output.value()->close(); !closed)
        return abandon(closed.error());
    if (stop.stop_requested()) {
        QFile::remove(copyPath);
        return rt::makeError(QStringLiteral("The conversion was stopped."));
    }
    return {};
}

bool OpenAIBackend::prewarmIfNeeded(const Config &config, const rt::Clocks &clocks, OpenAIPrewarmThrottle &throttle)
{
    if (!throttle.claim(clocks.uptimeNow()))
        return false;
    // The global pool is waited for when the application quits, so no warm-up outlives Qt; the
    // quit stops them first (stopPrewarms), so that it is not held up by a silent service.
    QThreadPool::globalInstance()->start([config, stop = throttle.stopToken()] { (void)prewarm(config, stop); });
    return true;
}

void OpenAIBackend::stopPrewarms(OpenAIPrewarmThrottle &throttle)
{
    throttle.stopAll();
}

std::optional<int> OpenAIBackend::prewarm(const Config &config, std::stop_token stop)
{
    const rt::Result<std::optional<QString>> stored =
        config.readAPIKey ? config.readAPIKey() : rt::Result<std::optional<QString>>(std::nullopt);
    const APIKeyCheck key = checkAPIKey(stored.valueOr(std::nullopt));
    if (key.problem)
        return std::nullopt;
    HttpRequest request;
    request.method = QByteArrayLiteral("GET");
    request.url = endpoint(config.baseUrl, QStringLiteral("/v1/models"));
    request.headers.emplaceBack("Authorization", bearer(key.key));
    request.timeout = config.prewarmTimeout;
    const HttpOutcome outcome = perform(config.http, request, stop);
    const int status = outcome.kind == HttpOutcome::Kind::response ? outcome.status : -1;
    qCInfo(lcOpenAI).noquote() << QStringLiteral("prewarm: HTTP %1").arg(status);
    return status;
}

} // namespace zq
