#include "LocalEditServer.h"
#include "ServiceTestSupport.h"

#include "sdk/SentrySDK.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>

#include <gtest/gtest.h>

#ifdef PIXALOOM_EDIT_SERVER_PATH

namespace {

TEST(LocalEditServer, AnswersAnEditWithAVisiblyEditedPng) {
    LocalEditServer server;
    SentrySDK crashReports;
    PixaloomService service({server.baseUrl(), &crashReports, std::chrono::seconds(20)});
    const QImage image = patternImage(40, 30);

    const EditOutcome inverted = runEdit(service, "invert please", image);
    ASSERT_TRUE(std::holds_alternative<QByteArray>(inverted));
    QImage expected = image.convertToFormat(QImage::Format_ARGB32);
    expected.invertPixels();
    EXPECT_EQ(
        QImage::fromData(std::get<QByteArray>(inverted)).convertToFormat(QImage::Format_ARGB32),
        expected);

    const EditOutcome tinted = runEdit(service, "tint", image, "retro");
    ASSERT_TRUE(std::holds_alternative<QByteArray>(tinted));
    const QImage result = QImage::fromData(std::get<QByteArray>(tinted));
    EXPECT_EQ(result.size(), image.size());
    EXPECT_NE(result.convertToFormat(QImage::Format_ARGB32),
              image.convertToFormat(QImage::Format_ARGB32));
    EXPECT_TRUE(crashReports.reports().empty());
}

TEST(LocalEditServer, CompressesOnlyForClientsAskingForZlibEncodingsAlone) {
    LocalEditServer server;
    SentrySDK crashReports;
    PixaloomService service({server.baseUrl(), &crashReports, std::chrono::seconds(20)});
    const QByteArray body =
        service.createMultipartFormData(patternImage(64, 48), QStringLiteral("x"), {}, false);
    struct Case {
        QByteArray acceptEncoding;
        QByteArray expectedContentEncoding;
    };
    // What Qt asks for by default includes Brotli, which costs seconds on a 4K reply.
    const Case cases[] = {{"gzip, deflate, br", ""},
                          {"br", ""},
                          {"", ""},
                          {"gzip", "gzip"},
                          {"gzip;q=1.0, deflate", "gzip"}};
    QNetworkAccessManager network;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.acceptEncoding.toStdString());
        QNetworkRequest request(QUrl(server.baseUrl() + QStringLiteral("/edit")));
        request.setRawHeader("Content-Type",
                             "multipart/form-data; boundary=" + service.boundary().toUtf8());
        // Set by hand, so that Qt neither adds its own nor decodes the reply.
        request.setRawHeader("Accept-Encoding",
                             c.acceptEncoding.isEmpty() ? "identity" : c.acceptEncoding);
        std::unique_ptr<QNetworkReply> reply(network.post(request, body));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        ASSERT_TRUE(finished.wait(20000));
        EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        EXPECT_EQ(reply->rawHeader("Content-Encoding"), c.expectedContentEncoding);
        if (c.expectedContentEncoding.isEmpty()) {
            EXPECT_TRUE(reply->readAll().startsWith("{\"success\":true"));
        }
    }
}

} // namespace

#endif
