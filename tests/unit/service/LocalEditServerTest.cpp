#include "ServiceTestSupport.h"

#include "sdk/SentrySDK.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>

#include <gtest/gtest.h>

#ifdef PIXALOOM_EDIT_SERVER_PATH

namespace {

// The local edit server, started on a free port for one test and stopped by its own pid.
class LocalEditServer {
public:
    LocalEditServer() {
        // Port 0: the server picks a free port and names it in its first line, written once
        // it listens.
        process.start(QStringLiteral(PIXALOOM_EDIT_SERVER_PATH), {QStringLiteral("0")});
        while (!process.canReadLine() && process.waitForReadyRead(10000)) {
        }
        const QString line = QString::fromUtf8(process.readLine()).trimmed();
        port = static_cast<quint16>(line.section(QLatin1Char(':'), -1).toUInt());
    }
    ~LocalEditServer() {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port); }

private:
    QProcess process;
    quint16 port = 0;
};

TEST(LocalEditServer, AnswersAnEditWithAVisiblyEditedPng) {
    LocalEditServer server;
    SentrySDK crashReports;
    PixaloomService service({server.baseUrl(), &crashReports, std::chrono::seconds(20)});
    // Larger than one tile, cut at the right and the bottom, as the server's reader sees it.
    const QImage image = patternImage(300, 270);

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
