#include "ServiceTestSupport.h"

#include "LogCapture.h"
#include "LoopbackHttpServer.h"
#include "sdk/SentrySDK.h"
#include "service/Base64.h"
#include "service/TiffRepresentation.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

const QByteArray okReply =
    R"({"success":true,"parts":[{"type":"image","content":"aW1n"}]})"; // "img"

struct Fixture {
    LoopbackHttpServer server;
    SentrySDK crashReports;
    PixaloomService service{{server.baseUrl(), &crashReports, std::chrono::seconds(10)}};

    Fixture() { server.setDefaultReply(LoopbackHttpServer::json(200, okReply)); }

    LoopbackHttpServer::Request send(const QString& prompt, std::optional<QString> theme,
                                     bool improve, const QImage& image = patternImage(5, 4)) {
        const EditOutcome outcome = runEdit(service, prompt, image, std::move(theme), improve);
        EXPECT_TRUE(std::holds_alternative<QByteArray>(outcome));
        const auto requests = server.requests();
        EXPECT_FALSE(requests.empty());
        return requests.empty() ? LoopbackHttpServer::Request{} : requests.back();
    }
};

// The body as the edit server expects it, written out from the format's own rules.
QByteArray expectedBody(const QByteArray& boundary, const QByteArray& tiff,
                        const QByteArray& prompt, const std::optional<QByteArray>& theme,
                        bool improve) {
    QByteArray body =
        "--" + boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"image\"; filename=\"image.tiff\"\r\n" +
        "Content-Type: image/tiff\r\n\r\n" + tiff + "\r\n";
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"prompt\"\r\n\r\n" +
            prompt + "\r\n";
    if (theme)
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"theme\"\r\n\r\n" +
                *theme + "\r\n";
    body += "--" + boundary +
            "\r\nContent-Disposition: form-data; name=\"improve_prompt\"\r\n\r\n" +
            (improve ? "true" : "false") + "\r\n";
    body += "--" + boundary + "--\r\n";
    return body;
}

QByteArray tiffPartOf(const QByteArray& body, const QByteArray& boundary) {
    const QByteArray start = "Content-Type: image/tiff\r\n\r\n";
    const qsizetype from = body.indexOf(start) + start.size();
    const qsizetype to =
        body.indexOf("\r\n--" + boundary + "\r\nContent-Disposition: form-data; name=\"prompt\"");
    return from >= start.size() && to > from ? body.mid(from, to - from) : QByteArray();
}

TEST(EditRequestBody, FollowsTheFormatForEveryThemeAndFlag) {
    struct Case {
        const char* name;
        QString prompt;
        std::optional<QString> theme;
        bool improve;
        std::optional<QByteArray> sentTheme;
    };
    const Case cases[] = {
        {"no theme", "make it blue", std::nullopt, false, std::nullopt},
        {"None is no theme", "make it blue", "None", true, std::nullopt},
        {"empty theme is sent", "x", "", false, QByteArray()},
        {"lower-case none is a theme", "x", "none", true, QByteArray("none")},
        {"a theme key", "", "cyberpunk", false, QByteArray("cyberpunk")},
        {"UTF-8 prompt and theme", QString::fromUtf8("Grüße, 日本 🎨"), QString::fromUtf8("é"), true,
         QByteArray("\xC3\xA9")},
        {"CR and LF kept raw", "line one\r\nline two\nthree\r", std::nullopt, false, std::nullopt},
    };
    Fixture fixture;
    const QByteArray boundary = fixture.service.boundary().toUtf8();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture logs;
        const auto request = fixture.send(c.prompt, c.theme, c.improve);
        const QByteArray tiff = tiffPartOf(request.body, boundary);
        EXPECT_EQ(tiff, TiffRepresentation::of(patternImage(5, 4)));
        EXPECT_EQ(request.body,
                  expectedBody(boundary, tiff, c.prompt.toUtf8(), c.sentTheme, c.improve));
        // An empty or missing theme is no theme to log.
        const bool themeLogged = !logs.messages(serviceLogCategory).filter("Using theme").isEmpty();
        EXPECT_EQ(themeLogged, c.theme.has_value() && !c.theme->isEmpty());
    }
}

TEST(EditRequest, PostsToEditWithTheMultipartHeaderAndOneBoundary) {
    Fixture fixture;
    const QString boundary = fixture.service.boundary();
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral(
                        "^Boundary-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(boundary)
                    .hasMatch())
        << boundary.toStdString();
    fixture.send("a", std::nullopt, false);
    fixture.send("b", std::nullopt, false);
    const auto requests = fixture.server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.target, "/edit");
        EXPECT_EQ(request.header("Content-Type"),
                  "multipart/form-data; boundary=" + boundary.toUtf8());
        EXPECT_EQ(request.header("Content-Length"), QByteArray::number(request.body.size()));
        EXPECT_TRUE(request.body.startsWith("--" + boundary.toUtf8() + "\r\n"));
    }
    PixaloomService other(
        {fixture.server.baseUrl(), &fixture.crashReports, std::chrono::seconds(5)});
    EXPECT_NE(other.boundary(), boundary);
}

TEST(EditRequest, AnEmptyImageSendsNothingAndFailsAsInvalidImage) {
    for (const QImage& image : {QImage(), QImage(0, 0, QImage::Format_RGB32)}) {
        Fixture fixture;
        LogCapture logs;
        const EditOutcome outcome = runEdit(fixture.service, "p", image);
        ASSERT_TRUE(std::holds_alternative<PixaloomError>(outcome));
        EXPECT_EQ(std::get<PixaloomError>(outcome), PixaloomError::invalidImage());
        EXPECT_TRUE(fixture.server.requests().empty());
        const auto reports = fixture.crashReports.reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].error, PixaloomError::invalidImage().bridged());
        const QStringList lines = logs.messages("com.app.pixaloom.PixaloomService");
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_TRUE(lines.last().startsWith("Pixaloom error: invalidImage, duration: "));
    }
}

TEST(EditRequest, LogsEveryStepOfASuccessfulEditInOrder) {
    Fixture fixture;
    QImage image = patternImage(1600, 1200);
    image.setDevicePixelRatio(2.0);
    LogCapture logs;
    const EditOutcome outcome = runEdit(fixture.service, "make it pop", image, "retro", true);
    ASSERT_TRUE(std::holds_alternative<QByteArray>(outcome));
    EXPECT_EQ(std::get<QByteArray>(outcome), "img");
    EXPECT_TRUE(fixture.crashReports.reports().empty());

    const QStringList lines = logs.messages("com.app.pixaloom.PixaloomService");
    const QString body = QString::number(fixture.server.requests().at(0).body.size());
    const QStringList expected = {
        "Starting image generation with prompt: make it pop",
        "Using theme: retro",
        "Improve prompt: true",
        "Original image dimensions: 800.0x600.0",
        "Created multipart form data with size: " + body + " bytes",
        "Request URL: " + fixture.server.baseUrl() + "/edit",
        "Sending request to edit endpoint",
        "Request completed in \\d+\\.\\d\\d seconds",
        "Response data size: " + QString::number(okReply.size()) + " bytes",
        "Received API response with status code: 200",
        "Response headers: .*Content-Type.*",
        "Decoding response JSON",
        "Server response: success=true, parts count=1",
        "Response part 0: type=image, content length=4",
        "Successfully processed generated image data \\(3 bytes\\) in \\d+\\.\\d\\d seconds",
    };
    ASSERT_EQ(lines.size(), expected.size()) << lines.join("\n").toStdString();
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const bool pattern = expected[i].contains('\\') || expected[i].contains(".*");
        if (pattern)
            EXPECT_TRUE(QRegularExpression("^" + expected[i] + "$").match(lines[i]).hasMatch())
                << lines[i].toStdString();
        else
            EXPECT_EQ(lines[i], expected[i]);
    }
}

} // namespace
