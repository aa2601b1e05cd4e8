// The application's HTTP client against a loopback HTTP server: what each kind of answer becomes,
// the body bound whether the body is kept or streamed, and the stop.
#include "platform/linux/QtHttpClient.h"

#include "support/LoopbackTranscriptionServer.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using zq::platform::HttpOutcome;
using zq::platform::HttpRequest;
using zq::platform::QtHttpClient;
using zq::test::LoopbackTranscriptionServer;
using Answer = LoopbackTranscriptionServer::Answer;
using Kind = HttpOutcome::Kind;

namespace {

class QtHttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.start()) << server.errorString().toStdString(); }

    HttpRequest request(qint64 limit = 1000, std::chrono::milliseconds timeout = 15s) const
    {
        HttpRequest made;
        made.url = QUrl(server.baseUrl() + QStringLiteral("/v1/models"));
        made.maximumBodyBytes = limit;
        made.timeout = timeout;
        return made;
    }

    LoopbackTranscriptionServer server;
    QtHttpClient client;
};

// An answer without a Content-Length: its end is the closed connection.
Answer unannounced(const QByteArray &body)
{
    return Answer::raw("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + body);
}

} // namespace

TEST_F(QtHttpClientTest, EachAnswerBecomesItsOutcomeWhetherTheBodyIsKeptOrStreamed)
{
    enum class Body { kept, streamed, refused };
    struct Case {
        const char *what;
        Answer answer;
        Body body;
        std::chrono::milliseconds timeout;
        Kind kind;
        int status;
        QByteArray received; // kept or streamed
        bool beyondLimit;
        bool timedOut;
    };
    const QByteArray atLimit(1000, 'a');
    const QByteArray overLimit(1001, 'b');
    const Answer hello = Answer::respond(200, "hello");
    const std::vector<Case> cases{
        {"a status and its body", hello, Body::kept, 15s, Kind::response, 200, "hello", false, false},
        {"an error status keeps its body", Answer::respond(503, "busy"), Body::kept, 15s, Kind::response, 503, "busy",
         false, false},
        {"a body at the bound", Answer::respond(200, atLimit), Body::kept, 15s, Kind::response, 200, atLimit, false,
         false},
        {"an announced body beyond the bound", Answer::respond(200, overLimit), Body::kept, 15s, Kind::response, 200,
         "", true, false},
        {"an unannounced body beyond the bound", unannounced(overLimit), Body::kept, 15s, Kind::response, 200, "", true,
         false},
        {"a streamed body", unannounced(atLimit), Body::streamed, 15s, Kind::response, 200, atLimit, false, false},
        {"a streamed body beyond the bound", unannounced(overLimit), Body::streamed, 15s, Kind::response, 200, "", true,
         false},
        {"a receiver that refuses the body", hello, Body::refused, 15s, Kind::transportFailure, -1, "hello", false,
         false},
        {"a dropped connection", Answer::drop(), Body::kept, 15s, Kind::transportFailure, -1, "", false, false},
        {"garbage instead of HTTP", Answer::raw("no status line\r\n\r\n"), Body::kept, 15s, Kind::transportFailure, -1,
         "", false, false},
        {"no answer within the timeout", Answer::hang(), Body::kept, 300ms, Kind::transportFailure, -1, "", false,
         true},
    };
    for (const Case &c : cases) {
        // A GET may be sent again when its first try breaks off: every try gets the same answer.
        server.setDefaultAnswer(c.answer);
        HttpRequest sent = request(1000, c.timeout);
        QByteArray streamed;
        if (c.body != Body::kept) {
            sent.receiveBody = [&streamed, refuse = c.body == Body::refused](QByteArrayView piece) {
                streamed += piece;
                return !refuse;
            };
        }
        const HttpOutcome outcome = client.perform(sent, {});
        EXPECT_EQ(outcome.kind, c.kind) << c.what;
        EXPECT_EQ(outcome.status, c.status) << c.what;
        EXPECT_EQ(outcome.bodyBeyondLimit, c.beyondLimit) << c.what;
        EXPECT_EQ(outcome.timedOut, c.timedOut) << c.what;
        EXPECT_EQ(c.body == Body::kept ? outcome.body : streamed, c.received) << c.what;
        if (c.body != Body::kept) {
            EXPECT_TRUE(outcome.body.isEmpty()) << c.what << ": a streamed body is not kept as well";
        }
        EXPECT_LE(streamed.size(), 1000) << c.what << ": nothing beyond the bound reaches the receiver";
    }
}

TEST_F(QtHttpClientTest, AStopEndsAWaitingRequestAtOnceAndIsNoTimeout)
{
    server.setDefaultAnswer(Answer::hang());
    std::stop_source stop;
    std::thread stopper([&] {
        if (server.waitForRequestCount(1, 10s))
            stop.request_stop();
    });
    QElapsedTimer timer;
    timer.start();
    const HttpOutcome outcome = client.perform(request(1000, 60s), stop.get_token());
    stopper.join();
    EXPECT_EQ(outcome.kind, Kind::transportFailure);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_LT(timer.elapsed(), 30000) << "the stop, not the 60 s timeout, ended it";

    const HttpOutcome already = client.perform(request(), stop.get_token());
    EXPECT_EQ(already.kind, Kind::transportFailure);
    EXPECT_EQ(server.requestCount(), 1) << "a request stopped before it starts sends nothing";
}

// Calls run on threads nobody joins, and Qt Network's shared parts go with the application: a quit
// must not leave one running into the application's teardown.
TEST_F(QtHttpClientTest, AQuitEndsTheRunningRequestBeforeTheApplicationGoesAndSendsNoMore)
{
    server.setDefaultAnswer(Answer::hang());
    HttpOutcome outcome;
    std::thread worker([&] { outcome = client.perform(request(1000, 60s), {}); });
    ASSERT_TRUE(server.waitForRequestCount(1, 10s));
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec(); // says aboutToQuit on its way out
    worker.join();
    EXPECT_EQ(outcome.kind, Kind::transportFailure);
    EXPECT_FALSE(outcome.timedOut) << "the quit, not the 60 s timeout, ended the request";

    EXPECT_EQ(client.perform(request(), {}).kind, Kind::transportFailure);
    EXPECT_EQ(server.requestCount(), 1) << "nothing is sent once the application quits";
}

TEST_F(QtHttpClientTest, AnUnreadableUploadSendsNothing)
{
    QTemporaryDir folder;
    HttpRequest upload = request();
    upload.method = "POST";
    upload.form.emplace();
    upload.form->boundary = "b";
    upload.form->filePath = folder.filePath("gone.wav");
    const HttpOutcome outcome = client.perform(upload, {});
    EXPECT_EQ(outcome.kind, Kind::unreadableBody);
    EXPECT_FALSE(outcome.errorDescription.isEmpty());
    EXPECT_EQ(server.requestCount(), 0);
}
