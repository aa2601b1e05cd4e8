// The application's HTTP client as it is made on the first request, from the module image the
// executable carries, against a loopback HTTP server; and from bytes that are no module.
#include "platform/linux/HttpClientOnFirstUse.h"

#include "support/FakeHttpClient.h"
#include "support/LoopbackTranscriptionServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace std::chrono_literals;
using zq::platform::HttpClientOnFirstUse;
using zq::platform::HttpOutcome;
using zq::platform::HttpRequest;
using zq::test::LoopbackTranscriptionServer;
using Answer = LoopbackTranscriptionServer::Answer;

namespace {

// The module as the build made it for the executable to carry.
QByteArray builtModule()
{
    QFile built(QStringLiteral(ZQ_HTTP_MODULE_FILE));
    return built.open(QIODevice::ReadOnly) ? built.readAll() : QByteArray();
}

HttpRequest modelsRequest(const LoopbackTranscriptionServer &server, std::chrono::milliseconds timeout)
{
    HttpRequest request;
    request.url = QUrl(server.baseUrl() + QStringLiteral("/v1/models"));
    request.timeout = timeout;
    return request;
}

} // namespace

TEST(HttpClientOnFirstUseTest, TheFirstRequestMakesTheClientFromTheImageOrSaysWhyItCannot)
{
    const QByteArray module = builtModule();
    ASSERT_FALSE(module.isEmpty()) << ZQ_HTTP_MODULE_FILE;
    const QByteArray garbage("not a module");
    struct Case {
        const char *what;
        const QByteArray &image;
        HttpOutcome::Kind kind;
        const char *said; // in the body, or in the error
    };
    const Case cases[] = {
        {"the module built with the application", module, HttpOutcome::Kind::response, "hello"},
        {"bytes that are no module", garbage, HttpOutcome::Kind::transportFailure, "could not be loaded"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackTranscriptionServer server;
        ASSERT_TRUE(server.start()) << server.errorString().toStdString();
        server.enqueue(Answer::respond(200, "hello"));
        server.enqueue(Answer::respond(200, "hello"));
        HttpClientOnFirstUse client(c.image);
        const HttpRequest request = modelsRequest(server, 15s);
        // The first request comes from a worker thread, as the application's do; the second finds
        // the client (or the failure) already made.
        for (int turn = 0; turn < 2; ++turn) {
            HttpOutcome outcome;
            std::thread([&] { outcome = client.perform(request, {}); }).join();
            EXPECT_EQ(outcome.kind, c.kind) << qPrintable(outcome.errorDescription);
            const QString said = QString::fromUtf8(outcome.body) + outcome.errorDescription;
            EXPECT_TRUE(said.contains(QLatin1String(c.said))) << qPrintable(said);
        }
    }
}

// The client is made on the worker thread of the first request, which then ends; the quit still
// reaches it on the main thread and ends a later request, so none runs into the application's teardown.
TEST(HttpClientOnFirstUseTest, AQuitEndsTheRequestOfAClientMadeOnAThreadThatIsGone)
{
    const QByteArray module = builtModule();
    ASSERT_FALSE(module.isEmpty()) << ZQ_HTTP_MODULE_FILE;
    LoopbackTranscriptionServer server;
    ASSERT_TRUE(server.start()) << server.errorString().toStdString();
    server.enqueue(Answer::respond(200, "hello"));
    server.setDefaultAnswer(Answer::hang());
    HttpClientOnFirstUse client(module);
    std::thread([&] { EXPECT_EQ(client.perform(modelsRequest(server, 15s), {}).status, 200); }).join();

    HttpOutcome outcome;
    std::thread worker([&] { outcome = client.perform(modelsRequest(server, 60s), {}); });
    ASSERT_TRUE(server.waitForRequestCount(2, 10s));
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec(); // says aboutToQuit on its way out
    worker.join();
    EXPECT_EQ(outcome.kind, HttpOutcome::Kind::transportFailure);
    EXPECT_FALSE(outcome.timedOut) << "the quit, not the 60 s timeout, ended the request";
}

// A quit that comes while the first request still makes the client (opens the module) waits until
// the client is made, and the request then sends nothing: no request runs in the module while the
// process's static objects go. A request after the quit is refused.
TEST(HttpClientOnFirstUseTest, AQuitWhileTheFirstRequestMakesTheClientWaitsForItAndNothingIsSent)
{
    std::promise<void> making;
    std::promise<void> release;
    std::atomic<bool> made = false;
    zq::test::FakeHttpClient *real = nullptr;
    HttpClientOnFirstUse client([&]() -> zq::rt::Result<std::unique_ptr<zq::platform::HttpClient>> {
        making.set_value();
        release.get_future().wait();
        auto fake = std::make_unique<zq::test::FakeHttpClient>();
        real = fake.get();
        made = true;
        return std::unique_ptr<zq::platform::HttpClient>(std::move(fake));
    });
    HttpOutcome outcome;
    std::thread worker([&] { outcome = client.perform(HttpRequest{}, {}); });
    making.get_future().wait();

    // Connected after the client's own handler, so it runs once that one has returned.
    QObject context;
    bool madeWhenTheQuitWentOn = false;
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &context,
                     [&] { madeWhenTheQuitWentOn = made; });
    std::thread releaser([&] {
        std::this_thread::sleep_for(200ms);
        release.set_value();
    });
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    releaser.join();
    worker.join();

    EXPECT_TRUE(madeWhenTheQuitWentOn) << "the quit went on while the client was still being made";
    ASSERT_NE(real, nullptr);
    EXPECT_EQ(real->requestCount(), 0);
    EXPECT_EQ(outcome.kind, HttpOutcome::Kind::transportFailure);
    EXPECT_TRUE(outcome.errorDescription.contains(QLatin1String("quitting"))) << qPrintable(outcome.errorDescription);
    EXPECT_EQ(client.perform(HttpRequest{}, {}).kind, HttpOutcome::Kind::transportFailure);
    EXPECT_EQ(real->requestCount(), 0);
}
