#include "ServiceTestSupport.h"

#include "sdk/SentrySDK.h"

#include <QProcess>

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

} // namespace

#endif
