#include "LocalEditServer.h"
#include "ServiceTestSupport.h"

#include "sdk/SentrySDK.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>

#include <gtest/gtest.h>

#ifdef PIXALOOM_EDIT_SERVER_PATH

namespace {

struct RawReply {
    int status = 0;
    QJsonObject json;
};

// One POST /edit of a body made by hand, as the server reads it off the wire.
RawReply postEdit(const LocalEditServer& server, const QByteArray& contentType,
                  const QByteArray& body) {
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(server.baseUrl() + QStringLiteral("/edit")));
    request.setRawHeader("Content-Type", contentType);
    std::unique_ptr<QNetworkReply> reply(network.post(request, body));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(20000))
        return {};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            QJsonDocument::fromJson(reply->readAll()).object()};
}

QByteArray formField(const QByteArray& name, const QByteArray& value) {
    return "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

TEST(LocalEditServer, ReadsTheFormFromTheWireAndAnswersInTheReplyFormat) {
    LocalEditServer server;
    SentrySDK crashReports;
    PixaloomService service({server.baseUrl(), &crashReports, std::chrono::seconds(20)});
    const QImage image = patternImage(300, 270);
    // The image field of the application's own request body: a TIFF of several tiles.
    const QByteArray appBody =
        service.createMultipartFormData(image, QStringLiteral("x"), {}, false);
    const qsizetype imageStart = appBody.indexOf("\r\n\r\n") + 4;
    const QByteArray tiff = appBody.mid(
        imageStart,
        appBody.indexOf("\r\n--" + service.boundary().toUtf8(), imageStart) - imageStart);
    const QByteArray imageField = "--B\r\nContent-Disposition: form-data; name=\"image\"; "
                                  "filename=\"image.tiff\"\r\nContent-Type: image/tiff\r\n\r\n" +
                                  tiff + "\r\n";
    const QByteArray form = "multipart/form-data; boundary=B";
    struct Case {
        const char* name;
        QByteArray contentType;
        QByteArray body;
        int status;
        QString text; // the text part, or the error
    };
    const Case cases[] = {
        {"fields in any order, the first of a name counts", form,
         formField("prompt", "first") + imageField + formField("prompt", "second") + "--B--\r\n",
         200, QStringLiteral("Inverted: first")},
        {"a theme", form,
         imageField + formField("prompt", "warm") + formField("theme", "retro") + "--B--\r\n", 200,
         QStringLiteral("Tinted for the theme \"retro\": warm")},
        {"no prompt", form, imageField + "--B--\r\n", 400,
         QStringLiteral("The request needs an image and a prompt")},
        {"not a form", "application/octet-stream", tiff, 400,
         QStringLiteral("The request needs an image and a prompt")},
        {"not a TIFF", form, formField("image", "GIF89a") + formField("prompt", "p") + "--B--\r\n",
         400, QStringLiteral("The image is not a readable TIFF")},
    };
    QImage inverted = image.convertToFormat(QImage::Format_ARGB32);
    inverted.invertPixels();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RawReply reply = postEdit(server, c.contentType, c.body);
        EXPECT_EQ(reply.status, c.status);
        const QJsonArray parts = reply.json.value(QStringLiteral("parts")).toArray();
        EXPECT_EQ(reply.json.value(QStringLiteral("success")).toBool(), c.status == 200);
        if (c.status != 200) {
            EXPECT_TRUE(parts.isEmpty());
            EXPECT_EQ(reply.json.value(QStringLiteral("error")).toString(), c.text);
            continue;
        }
        ASSERT_EQ(parts.size(), 2);
        EXPECT_EQ(parts[0].toObject().value(QStringLiteral("type")).toString(),
                  QStringLiteral("text"));
        EXPECT_EQ(parts[0].toObject().value(QStringLiteral("content")).toString(), c.text);
        EXPECT_EQ(parts[1].toObject().value(QStringLiteral("type")).toString(),
                  QStringLiteral("image"));
        const QByteArray base64 =
            parts[1].toObject().value(QStringLiteral("content")).toString().toLatin1();
        const auto png =
            QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
        ASSERT_TRUE(png);
        EXPECT_EQ(png.decoded.toBase64(), base64); // canonical, padded
        const QImage result = QImage::fromData(png.decoded).convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(result.size(), image.size());
        if (c.text.startsWith(QStringLiteral("Inverted"))) {
            EXPECT_EQ(result, inverted);
        } else {
            EXPECT_NE(result, image.convertToFormat(QImage::Format_ARGB32)) << "visibly edited";
        }
        const QJsonObject timing = reply.json.value(QStringLiteral("timing")).toObject();
        EXPECT_GE(timing.value(QStringLiteral("total_ms")).toDouble(-1),
                  timing.value(QStringLiteral("api_ms")).toDouble(-1));
        EXPECT_GE(timing.value(QStringLiteral("api_ms")).toDouble(-1), 0);
    }
}

// Every thread of the server, its connection workers included, runs below the desktop's
// priority: niceness is the 19th field of a thread's stat line.
TEST(LocalEditServer, EveryThreadYieldsTheCoresToTheDesktop) {
    LocalEditServer server;
    ASSERT_FALSE(server.baseUrl().isEmpty());
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(server.pid()));
    const QStringList threads = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_FALSE(threads.isEmpty());
    for (const QString& thread : threads) {
        QFile stat(tasks.filePath(thread + QStringLiteral("/stat")));
        ASSERT_TRUE(stat.open(QIODevice::ReadOnly));
        // The fields after the command's closing parenthesis, from the 3rd on.
        const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
        ASSERT_GT(fields.size(), 16);
        EXPECT_GE(fields[16].toInt(), 10) << "thread " << thread.toStdString();
    }
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
