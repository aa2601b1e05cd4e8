// The application's HTTP client as it is made on the first request, from the module image the
// executable carries, against a loopback HTTP server; and from bytes that are no module.
#include "platform/linux/HttpClientOnFirstUse.h"

#include "support/LoopbackTranscriptionServer.h"

#include <QFile>

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using zq::platform::HttpClientOnFirstUse;
using zq::platform::HttpOutcome;
using zq::platform::HttpRequest;
using zq::test::LoopbackTranscriptionServer;
using Answer = LoopbackTranscriptionServer::Answer;

TEST(HttpClientOnFirstUseTest, TheFirstRequestMakesTheClientFromTheImageOrSaysWhyItCannot)
{
    QFile built(QStringLiteral(ZQ_HTTP_MODULE_FILE));
    ASSERT_TRUE(built.open(QIODevice::ReadOnly)) << ZQ_HTTP_MODULE_FILE;
    const QByteArray module = built.readAll();
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
        HttpRequest request;
        request.url = QUrl(server.baseUrl() + QStringLiteral("/v1/models"));
        request.timeout = 15s;
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
