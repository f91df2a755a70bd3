// The screenshot portal grabber against a portal of our own on the session bus (the tests
// run inside dbus-run-session): the request, the answer on the request object, the crop of
// the desktop picture and the removal of the portal's file; and a capture window ended while
// it waits for the portal's answer.

#include "platform/CursorStack.h"
#include "platform/PortalScreenGrabber.h"
#include "shell/ScreenCaptureWindow.h"

#include "CaptureTestDoubles.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
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
    // How long the answer takes, and what the asking application's main thread is made to do
    // meanwhile.
    std::chrono::milliseconds answerDelay{0};
    std::function<void()> whileAnswerIsAwaited;

public slots:
    QDBusObjectPath Screenshot(const QString&, const QVariantMap& options,
                               const QDBusMessage& message) {
        lastOptions = options;
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(sender, options.value("handle_token").toString());
        if (whileAnswerIsAwaited)
            QMetaObject::invokeMethod(qApp, whileAnswerIsAwaited, Qt::QueuedConnection);
        // After the reply has gone out, as the real portal answers later.
        QTimer::singleShot(answerDelay, this, [this, path] {
            QDBusMessage response = QDBusMessage::createSignal(
                path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            response << responseCode
                     << QVariantMap{{QStringLiteral("uri"), QUrl::fromLocalFile(file).toString()}};
            connection.send(response);
        });
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection connection;
    uint responseCode;
    QString file;
};

// The fake portal on the session bus, answering from a thread of its own, for one test case.
class PortalOnBus {
public:
    PortalOnBus(uint responseCode, const QString& file, bool runs = true)
        : connection(
              QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal")))
        , portal(new FakeScreenshotPortal(connection, responseCode, file)) {
        portal->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, portal, &QObject::deleteLater);
        thread.start();
        if (runs) {
            EXPECT_TRUE(connection.registerService(portalService));
            EXPECT_TRUE(
                connection.registerObject(portalPath, portal, QDBusConnection::ExportAllSlots));
        }
    }
    ~PortalOnBus() {
        connection.unregisterObject(portalPath);
        connection.unregisterService(portalService);
        thread.quit();
        thread.wait();
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
    }

    QDBusConnection connection;
    QThread thread;
    FakeScreenshotPortal* portal;

private:
    const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
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

        PortalOnBus bus(c.responseCode, file, c.portalRuns);
        const FakeScreenshotPortal* portal = bus.portal;

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
    }
}

TEST(PortalScreenGrabberE2E, ACaptureEndedWhileThePortalIsAwaitedStaysEndedAndUntouched) {
    for (const auto& c : captureWindowEndings()) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("Screenshot.png"));
        ASSERT_TRUE(desktopPicture(1.0).save(file));
        // Qt's grab yields nothing, as on Wayland, so the portal is asked.
        std::vector<std::unique_ptr<ScreenGrabber>> grabbers;
        grabbers.push_back(
            std::make_unique<ScriptedScreenGrabber>(ScriptedScreenGrabber::failing()));
        grabbers.push_back(std::make_unique<PortalScreenGrabber>(std::chrono::seconds(5)));
        RecordingCaptureReceiver receiver;
        auto window = std::make_unique<ScreenCaptureWindow>(std::move(grabbers));
        const QPointer<ScreenCaptureWindow> watched = window.get();
        window->setAppDelegate(&receiver);

        PortalOnBus bus(0, file);
        bus.portal->answerDelay = std::chrono::milliseconds(200);
        bus.portal->whileAnswerIsAwaited = [&] {
            c.end(window);
        };
        window->captureSelectedArea(QRectF(300, 200, 120, 80));
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        EXPECT_TRUE(receiver.handOffs.empty());
        if (watched) {
            EXPECT_FALSE(watched->isVisible());
        }
        EXPECT_EQ(CursorStack::depth(), 0);
    }
}

} // namespace

#include "PortalScreenGrabberE2ETest.moc"
