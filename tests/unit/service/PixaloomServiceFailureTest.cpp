#include "ServiceTestSupport.h"

#include "LogCapture.h"
#include "LoopbackHttpServer.h"
#include "sdk/SentrySDK.h"
#include "platform/Logger.h"
#include "service/DecodingError.h"

#include <QNetworkReply>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

using Report = SentrySDK::Report;
using Reply = LoopbackHttpServer::Reply;

Report message(const QString& text) {
    return Report{Report::Kind::message, text, {}};
}

Report error(const BridgedError& bridged) {
    return Report{Report::Kind::error, {}, bridged};
}

Report error(const PixaloomError& pixaloomError) {
    return error(pixaloomError.bridged());
}

PixaloomError errorOf(const EditRun& run) {
    EXPECT_TRUE(std::holds_alternative<PixaloomError>(run.outcome));
    return std::holds_alternative<PixaloomError>(run.outcome) ? std::get<PixaloomError>(run.outcome)
                                                              : PixaloomError::invalidImage();
}

void expectClosingLine(const EditRun& run, const QString& textForm) {
    ASSERT_FALSE(run.lines.isEmpty());
    const QRegularExpression closing("^Pixaloom error: " + QRegularExpression::escape(textForm) +
                                     ", duration: \\d+\\.\\d\\d seconds$");
    EXPECT_TRUE(closing.match(run.lines.last()).hasMatch()) << run.lines.last().toStdString();
}

const QByteArray validImageReply =
    R"({"success":true,"parts":[{"type":"image","content":"aW1n"}]})";

TEST(EditFailures, ErrorRepliesGiveApiErrorWithTheWholeBody) {
    struct Case {
        const char* name;
        Reply reply;
        QString message; // the caller's and the crash report's message
        QStringList extraLines;
    };
    const QByteArray detailed = R"({"error":"model overloaded","timing":{"total_ms":12}})";
    Reply notUtf8 = LoopbackHttpServer::json(502, QByteArray("bad \xFF\xFE bytes"));
    const Case cases[] = {
        {"500 with details",
         LoopbackHttpServer::json(500, detailed),
         QString::fromUtf8(detailed),
         {"Detailed error: model overloaded", "Error timing info: {\"total_ms\":12}"}},
        {"201 with a valid image reply",
         LoopbackHttpServer::json(201, validImageReply),
         QString::fromUtf8(validImageReply),
         {}},
        {"404 that is not JSON",
         LoopbackHttpServer::json(404, "Not Found"),
         "Not Found",
         {"Could not parse error response: *"}},
        {"502 not UTF-8", notUtf8, "Unknown error", {"Could not parse error response: *"}},
        {"IMAGE_SAFETY outside 200 is plain",
         LoopbackHttpServer::json(403, "IMAGE_SAFETY"),
         "IMAGE_SAFETY",
         {"Could not parse error response: *"}},
        // Qt reports these as authentication or proxy errors; they are still the server's
        // answer.
        {"401", LoopbackHttpServer::json(401, "login first"), "login first", {}},
        {"407 from the server", LoopbackHttpServer::json(407, "Proxy login"), "Proxy login", {}},
        {"418", LoopbackHttpServer::json(418, "teapot"), "teapot", {}},
        {"503", LoopbackHttpServer::json(503, "later"), "later", {}},
        {"a lone JSON value is no document",
         LoopbackHttpServer::json(500, "5"),
         "5",
         {"Could not parse error response: *"}},
        {"timing written back whole",
         LoopbackHttpServer::json(500, R"({"timing":{"phases":[1.5,null,true,"a\"b"]}})"),
         R"({"timing":{"phases":[1.5,null,true,"a\"b"]}})",
         {R"(Error timing info: {"phases":[1.5,null,true,"a\"b"]})"}},
        {"302 is not followed",
         Reply{302, {{"Location", "/elsewhere"}}, "moved"},
         "moved",
         {"Received API response with status code: 302"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EditRun run = editAgainst(c.reply);
        const PixaloomError expected = PixaloomError::apiError(c.reply.status, c.message);
        EXPECT_EQ(errorOf(run), expected);
        const QString reported =
            "API error (" + QString::number(c.reply.status) + "): " + c.message;
        EXPECT_EQ(run.reports, (std::vector{message(reported), error(expected)}));
        EXPECT_TRUE(run.lines.contains(
            QStringLiteral("API error (%1): %2").arg(c.reply.status).arg(c.message)));
        for (const QString& line : c.extraLines) {
            const bool found =
                line.endsWith('*')
                    ? std::any_of(run.lines.begin(), run.lines.end(),
                                  [&](const QString& l) { return l.startsWith(line.chopped(1)); })
                    : run.lines.contains(line);
            EXPECT_TRUE(found) << line.toStdString();
        }
        expectClosingLine(run, expected.textForm());
    }
}

TEST(EditFailures, ALargeErrorBodyIsKeptWholeWhileLogsAndReportsCarryItsBeginning) {
    // Three megabytes of multi-byte text, as a misconfigured proxy might send, or the same as
    // the server's own error.
    const QString text =
        QString::fromUtf8("Fehler: Überlastung \xF0\x9F\x98\x80 ").repeated(120000);
    const QString json = R"({"error":")" + text + R"(","timing":{"total_ms":12}})";
    for (const QString& body : {text, json}) {
        SCOPED_TRACE(body.left(12).toStdString());
        const EditRun run = editAgainst(LoopbackHttpServer::json(500, body.toUtf8()));
        const PixaloomError received = errorOf(run);
        EXPECT_EQ(received.errorCase(), PixaloomError::Case::apiError);
        EXPECT_EQ(received.statusCode(), 500);
        EXPECT_TRUE(received.message() == body) << "the caller gets the whole body";
        EXPECT_EQ(received, PixaloomError::apiError(500, body));
        EXPECT_EQ(received.textForm().size(), body.size() + 17 + body.count(u'"'));

        for (const QString& line : run.lines)
            EXPECT_LE(line.size(), Logger::maxMessageLength) << line.left(80).toStdString();
        const QString apiLine = QStringLiteral("API error (500): ");
        const QStringList logged =
            run.lines.filter(QRegularExpression("^" + QRegularExpression::escape(apiLine)));
        ASSERT_EQ(logged.size(), 1);
        EXPECT_TRUE(body.startsWith(logged[0].mid(apiLine.size()).chopped(1)));
        EXPECT_TRUE(logged[0].endsWith(QChar(0x2026)));
        expectClosingLine(run, received.shortTextForm());
        if (body == json) {
            const QStringList detailed = run.lines.filter(QRegularExpression("^Detailed error: "));
            ASSERT_EQ(detailed.size(), 1);
            EXPECT_TRUE(text.startsWith(detailed[0].mid(16).chopped(1)));
            EXPECT_TRUE(run.lines.contains(R"(Error timing info: {"total_ms":12})"));
        }

        ASSERT_EQ(run.reports.size(), 2u);
        const QString& reported = run.reports[0].message;
        EXPECT_TRUE(reported.startsWith(apiLine + body.left(100)));
        EXPECT_LE(reported.size(), apiLine.size() + 8192);
        EXPECT_EQ(run.reports[1].error, received.bridged());
    }
}

TEST(EditFailures, DecodingFailuresOfA200ReplyAreReportedInOrder) {
    struct Case {
        const char* name;
        QByteArray body;
        PixaloomError expected;
        std::vector<Report> reports; // a decoding error's own report is matched by kind only
        QStringList lines;           // lines that must appear
    };
    const PixaloomError quota = PixaloomError::invalidResponse("Server reported failure: quota");
    const PixaloomError unknown =
        PixaloomError::invalidResponse("Server reported failure: Unknown error");
    const PixaloomError noImage = PixaloomError::noImageInResponse();
    const PixaloomError safety =
        PixaloomError::apiError(400, "Content blocked due to safety concerns");
    const auto wrapped = [](const PixaloomError& inner) {
        return PixaloomError::invalidResponse("Failed to decode response: " + inner.textForm());
    };
    const Case cases[] = {
        {"success false with an error",
         R"({"success":false,"parts":[],"error":"quota"})",
         wrapped(quota),
         {message("Server reported failure: quota"), error(quota), error(wrapped(quota))},
         {"Server reported error: quota", "Server reported failure: quota"}},
        {"success false without an error",
         R"({"success":false,"parts":[]})",
         wrapped(unknown),
         {message("Server reported failure: Unknown error"), error(unknown),
          error(wrapped(unknown))},
         {"Server reported failure: No error details provided"}},
        {"no image part (\"Image\" is not one)",
         R"({"success":true,"parts":[{"type":"text","content":"hi"},{"type":"Image","content":"aW1n"}]})",
         wrapped(noImage),
         {message("No image part found in response"), error(noImage), error(wrapped(noImage))},
         {"Response part 0: type=text, content length=2",
          "Response part 1: type=Image, content length=4", "No image part found in response",
          "Failed to decode response: The operation couldn\u2019t be completed. "
          "(Pixaloom.PixaloomError error 4.)"}},
        {"image content with a line break",
         R"({"success":true,"parts":[{"type":"image","content":"aW1n\nZw=="}]})",
         wrapped(noImage),
         {message("Invalid base64 image data in response"), error(noImage),
          error(wrapped(noImage))},
         {"Invalid base64 image data in response"}},
        {"success false naming IMAGE_SAFETY",
         R"({"success":false,"parts":[],"error":"IMAGE_SAFETY: blocked"})",
         safety,
         {message("Server reported failure: IMAGE_SAFETY: blocked"),
          message("Detected IMAGE_SAFETY block in response"), error(safety)},
         {"Detected IMAGE_SAFETY block in response"}},
        {"undecodable with IMAGE_SAFETY",
         R"({"finishReason":"IMAGE_SAFETY"})",
         safety,
         {message("Detected IMAGE_SAFETY block in response"), error(safety)},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EditRun run = editAgainst(LoopbackHttpServer::json(200, c.body));
        EXPECT_EQ(errorOf(run), c.expected);
        EXPECT_EQ(run.reports, c.reports);
        EXPECT_TRUE(run.lines.contains("Response prefix: " + QString::fromUtf8(c.body)));
        for (const QString& line : c.lines)
            EXPECT_TRUE(run.lines.contains(line)) << line.toStdString();
        expectClosingLine(run, c.expected.textForm());
    }
}

TEST(EditFailures, AnUndecodableReplyNamesTheKeyAndReportsTheDecodingErrorFirst) {
    const EditRun run = editAgainst(LoopbackHttpServer::json(200, R"({"success":true})"));
    const PixaloomError received = errorOf(run);
    EXPECT_EQ(received.errorCase(), PixaloomError::Case::invalidResponse);
    EXPECT_TRUE(received.message().startsWith("Failed to decode response: keyNotFound(parts)"))
        << received.message().toStdString();
    ASSERT_EQ(run.reports.size(), 2u);
    EXPECT_EQ(run.reports[0].error.domain, DecodingError::domain);
    EXPECT_EQ(run.reports[0].error.code, DecodingError::coderValueNotFoundError);
    EXPECT_EQ(run.reports[1], error(received));
}

TEST(EditFailures, ReplyBodyIsLoggedByItsFirst200Characters) {
    const QByteArray body = "{\"success\":\"yes\",\"pad\":\"" + QByteArray(300, 'x') + "\"}";
    const EditRun run = editAgainst(LoopbackHttpServer::json(200, body));
    EXPECT_TRUE(run.lines.contains("Response prefix: " + QString::fromUtf8(body.left(200))));

    const EditRun notText = editAgainst(LoopbackHttpServer::json(200, "{\xFF IMAGE_SAFETY"));
    EXPECT_TRUE(notText.lines.contains("Response prefix: Could not convert to string"));
    EXPECT_EQ(errorOf(notText).errorCase(), PixaloomError::Case::invalidResponse);
}

TEST(EditSuccess, ReturnsTheFirstImagePartEvenWithTheSafetyMarkerElsewhere) {
    const QByteArray body =
        R"({"success":true,"note":"IMAGE_SAFETY","parts":[{"type":"text","content":"x"},)"
        R"({"type":"image","content":"Zmlyc3Q="},{"type":"image","content":"c2Vjb25k"}],)"
        R"("timing":{"total_ms":1200}})";
    const EditRun run = editAgainst(LoopbackHttpServer::json(200, body));
    ASSERT_TRUE(std::holds_alternative<QByteArray>(run.outcome));
    EXPECT_EQ(std::get<QByteArray>(run.outcome), "first");
    EXPECT_TRUE(run.reports.empty());
    EXPECT_TRUE(run.lines.contains("Timing: total_ms=1200.000000, api_ms=0.000000"));
    EXPECT_TRUE(run.lines.contains("Response part 2: type=image, content length=8"));
}

TEST(EditFailures, TransportFailuresGiveNetworkErrorAfterOneReport) {
    // A server that keeps its port but refuses connections.
    LoopbackHttpServer refusing;
    refusing.refuseConnections();
    SentrySDK refusedReports;
    LogCapture refusedLogs;
    PixaloomService refusedService({refusing.baseUrl(), &refusedReports, std::chrono::seconds(5)});
    const EditRun refused{runEdit(refusedService, "p", patternImage(4, 4)),
                          refusedReports.reports(), refusedLogs.messages(serviceLogCategory)};

    Reply silent;
    silent.silent = true;
    const EditRun timedOut = editAgainst(silent, std::chrono::milliseconds(300));

    for (const EditRun* run : {&refused, &timedOut}) {
        const PixaloomError received = errorOf(*run);
        EXPECT_EQ(received.errorCase(), PixaloomError::Case::networkError);
        ASSERT_EQ(run->reports.size(), 1u);
        EXPECT_EQ(run->reports[0].kind, Report::Kind::error);
        EXPECT_EQ(run->reports[0].error.description, received.message());
        EXPECT_EQ(received.textForm(), "networkError(" + received.message() + ")");
        EXPECT_FALSE(run->lines.join('\n').contains("Request completed"));
        const QRegularExpression closing(
            "^Unexpected error: " + QRegularExpression::escape(received.message()) +
            ", duration: \\d+\\.\\d\\d seconds$");
        EXPECT_TRUE(closing.match(run->lines.last()).hasMatch()) << run->lines.last().toStdString();
    }
    EXPECT_EQ(std::get<PixaloomError>(refused.outcome).message(), "Connection refused");
    EXPECT_EQ(refused.reports[0].error.code, QNetworkReply::ConnectionRefusedError);
    EXPECT_EQ(std::get<PixaloomError>(timedOut.outcome).message(), "The request timed out.");
}

} // namespace
