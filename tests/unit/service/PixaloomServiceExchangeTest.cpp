// How the edit exchange itself behaves on the wire: the idle limit, replies that come slowly
// or stop halfway, headers that are not text, edits that overlap, a server that is not HTTP.
#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Reply = LoopbackHttpServer::Reply;

QByteArray imageReply(const QByteArray& image) {
    return R"({"success":true,"parts":[{"type":"image","content":")" + image.toBase64() + R"("}]})";
}

TEST(EditExchange, TheTimeOutLimitsSilenceNotTheWholeExchange) {
    struct Case {
        const char* name;
        int pieces;
        std::chrono::milliseconds pause;
        bool succeeds;
    };
    // The idle limit is 400 ms in every case.
    const Case cases[] = {
        {"steady pieces, 800 ms in all", 5, 160ms, true},
        {"headers, then a stall past the limit", 2, 900ms, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reply reply = LoopbackHttpServer::json(200, imageReply("slow but whole"));
        reply.bodyPieces = c.pieces;
        reply.piecePause = c.pause;
        const EditRun exchange = editAgainst(reply, 400ms);
        if (c.succeeds) {
            ASSERT_TRUE(std::holds_alternative<QByteArray>(exchange.outcome));
            EXPECT_EQ(std::get<QByteArray>(exchange.outcome), "slow but whole");
        } else {
            // A status line arrived, but the exchange broke: a transport failure, not an
            // undecodable reply.
            ASSERT_TRUE(std::holds_alternative<PixaloomError>(exchange.outcome));
            EXPECT_EQ(std::get<PixaloomError>(exchange.outcome),
                      PixaloomError::networkError("The request timed out."));
        }
    }
}

TEST(EditExchange, LargeBodiesArriveWholeInBothDirections) {
    // Bytes of every value, larger than what Qt reads ahead of its reader (a few megabytes)
    // and than the pieces it sends a request in.
    QByteArray image(6 * 1024 * 1024 + 7, Qt::Uninitialized);
    for (qsizetype i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>((i * 131) ^ (i >> 9));
    struct Case {
        const char* name;
        int pieces;
        std::chrono::milliseconds pause;
    };
    const Case cases[] = {{"one piece", 1, 0ms},
                          {"many small pieces", 4096, 0ms},
                          {"a few pieces after pauses", 6, 40ms}};
    const QImage large = patternImage(1500, 1100);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer server;
        Reply reply = LoopbackHttpServer::json(200, imageReply(image));
        reply.bodyPieces = c.pieces;
        reply.piecePause = c.pause;
        server.enqueue(reply);
        SentrySDK crashReports;
        PixaloomService service({server.baseUrl(), &crashReports, 10s});
        const EditOutcome outcome = runEdit(service, "prompt", large);
        ASSERT_TRUE(std::holds_alternative<QByteArray>(outcome));
        EXPECT_TRUE(std::get<QByteArray>(outcome) == image);
        ASSERT_EQ(server.requests().size(), 1u);
        EXPECT_TRUE(server.requests()[0].body ==
                    service.createMultipartFormData(large, "prompt", {}, false));
    }
}

TEST(EditExchange, HeadersAreLoggedOnlyWhenEveryNameAndValueIsText) {
    struct Case {
        const char* name;
        QByteArray value;
        bool logged;
    };
    const Case cases[] = {
        {"UTF-8 value", "caf\xC3\xA9", true},
        {"Latin-1 value", "caf\xE9", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reply reply = LoopbackHttpServer::json(200, imageReply("img"));
        reply.headers.emplace_back("X-Note", c.value);
        const EditRun exchange = editAgainst(reply, 5s);
        EXPECT_TRUE(std::holds_alternative<QByteArray>(exchange.outcome));
        const bool logged = std::ranges::any_of(exchange.lines, [](const QString& line) {
            return line.startsWith("Response headers: ") && line.contains("X-Note");
        });
        EXPECT_EQ(logged, c.logged) << exchange.lines.join('\n').toStdString();
    }
}

TEST(EditExchange, TwoOverlappingEditsEachGetTheirOwnImage) {
    LoopbackHttpServer server;
    // The first edit's answer comes late, so the second is sent before the first is done.
    server.setResponder([](const LoopbackHttpServer::Request& request) {
        const QByteArray prompt = request.formValue("prompt").value_or("?");
        Reply reply = LoopbackHttpServer::json(200, imageReply("edited " + prompt));
        if (prompt == "first")
            reply.delay = 300ms;
        return std::optional<Reply>(reply);
    });
    SentrySDK crashReports;
    PixaloomService service({server.baseUrl(), &crashReports, 5s});
    const auto both = [&]() -> QCoro::Task<std::pair<EditOutcome, EditOutcome>> {
        auto first = outcomeOf(service.generateImage("first", patternImage(8, 8), {}, false));
        auto second = outcomeOf(service.generateImage("second", patternImage(4, 4), {}, false));
        EditOutcome firstOutcome = co_await std::move(first);
        EditOutcome secondOutcome = co_await std::move(second);
        co_return std::pair{std::move(firstOutcome), std::move(secondOutcome)};
    };
    const auto [first, second] = QCoro::waitFor(both());
    ASSERT_TRUE(std::holds_alternative<QByteArray>(first));
    ASSERT_TRUE(std::holds_alternative<QByteArray>(second));
    EXPECT_EQ(std::get<QByteArray>(first), "edited first");
    EXPECT_EQ(std::get<QByteArray>(second), "edited second");
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_TRUE(crashReports.reports().empty());
}

TEST(EditExchange, AServerUrlThatIsNotHttpFailsAsATransportFailure) {
    // Qt answers a POST to any other scheme with an error and no reply at all, so "Invalid
    // response type" (a reply that is not HTTP) cannot come from it; such a URL is a failed
    // exchange, reported once.
    for (const QString& url : {QStringLiteral("file:///tmp"), QStringLiteral("data:,x")}) {
        SCOPED_TRACE(url.toStdString());
        SentrySDK crashReports;
        LogCapture logs;
        PixaloomService service({url, &crashReports, 5s});
        const EditOutcome outcome = runEdit(service, "prompt", patternImage(4, 4));
        ASSERT_TRUE(std::holds_alternative<PixaloomError>(outcome));
        EXPECT_EQ(std::get<PixaloomError>(outcome).errorCase(), PixaloomError::Case::networkError);
        EXPECT_EQ(crashReports.reports().size(), 1u);
        const QStringList lines = logs.messages(serviceLogCategory);
        EXPECT_FALSE(lines.contains("Invalid response type received"));
        EXPECT_FALSE(lines.join('\n').contains("Request completed"));
    }
}

} // namespace
