// The screenshot portal grabber against a portal of our own on the session bus (the tests
// run inside dbus-run-session): the request, the answer on the request object, the crop of
// the desktop picture and the removal of the portal's file.

#include "platform/PortalScreenGrabber.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");

// Answers Screenshot the way xdg-desktop-portal does: the request's object path at once,
// then the Response signal on that object. It lives in a thread of its own because the
// grabber blocks the GUI thread while it waits for the method's reply.
class FakeScreenshotPortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")
public:
    FakeScreenshotPortal(QDBusConnection connection, uint responseCode, QString file)
        : connection(std::move(connection))
        , responseCode(responseCode)
        , file(std::move(file)) {}

    QVariantMap lastOptions;

public slots:
    QDBusObjectPath Screenshot(const QString&, const QVariantMap& options,
                               const QDBusMessage& message) {
        lastOptions = options;
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(sender, options.value("handle_token").toString());
        // After the reply has gone out, as the real portal answers later.
        QMetaObject::invokeMethod(
            this,
            [this, path] {
                QDBusMessage response = QDBusMessage::createSignal(
                    path, QStringLiteral("org.freedesktop.portal.Request"),
                    QStringLiteral("Response"));
                response << responseCode
                         << QVariantMap{
                                {QStringLiteral("uri"), QUrl::fromLocalFile(file).toString()}};
                connection.send(response);
            },
            Qt::QueuedConnection);
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection connection;
    uint responseCode;
    QString file;
};

// The desktop as the portal pictures it: every device pixel's colour tells its place.
QImage desktopPicture(qreal ratio) {
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    QImage image(desktop.size() * ratio, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x / 256 + y / 256 * 16) % 256));
    return image;
}

TEST(PortalScreenGrabberE2E, CropsThePortalsPictureAndRemovesItsFile) {
    const struct {
        const char* name;
        bool portalRuns;
        uint responseCode;
        qreal ratio;
        bool answers;
    } cases[] = {{"picture in device-independent pixels", true, 0, 1.0, true},
                 {"picture at twice the density", true, 0, 2.0, true},
                 {"the user declined", true, 1, 1.0, false},
                 {"no portal on the bus", false, 0, 1.0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("Screenshot.png"));
        const QImage desktop = desktopPicture(c.ratio);
        ASSERT_TRUE(desktop.save(file));

        QDBusConnection connection =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal"));
        QThread thread;
        auto* portal = new FakeScreenshotPortal(connection, c.responseCode, file);
        portal->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, portal, &QObject::deleteLater);
        thread.start();
        if (c.portalRuns) {
            ASSERT_TRUE(connection.registerService(portalService));
            ASSERT_TRUE(connection.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                  portal, QDBusConnection::ExportAllSlots));
        }

        PortalScreenGrabber grabber(std::chrono::seconds(5));
        const QRect area(300, 200, 120, 80);
        const QImage image = grabber.grab(area);

        if (c.answers) {
            EXPECT_EQ(image.deviceIndependentSize(), QSizeF(area.size()));
            EXPECT_EQ(image.devicePixelRatio(), c.ratio);
            EXPECT_EQ(image.copy(),
                      desktop.copy(QRect(area.topLeft() * c.ratio, area.size() * c.ratio)));
            EXPECT_FALSE(QFile::exists(file));
            EXPECT_EQ(portal->lastOptions.value(QStringLiteral("interactive")), QVariant(false));
        } else {
            EXPECT_TRUE(image.isNull());
        }

        connection.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
        connection.unregisterService(portalService);
        thread.quit();
        thread.wait();
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
    }
}

} // namespace

#include "PortalScreenGrabberE2ETest.moc"
