#include "platform/PortalScreenGrabber.h"

#include "platform/Logger.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QScreen>
#include <QTimer>
#include <QUrl>

namespace {

const Logger logger{"com.app.pixaloom", "PortalScreenGrabber"};

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString screenshotInterface = QStringLiteral("org.freedesktop.portal.Screenshot");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

// The portal names its request object after our unique bus name and the token we choose, so
// we can listen for the answer before asking (an answer can otherwise arrive first).
QString requestPath(const QDBusConnection& bus, const QString& token) {
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

} // namespace

PortalScreenGrabber::PortalScreenGrabber(std::chrono::milliseconds timeout)
    : timeout(timeout) {
}

QImage PortalScreenGrabber::grab(const QRect& area) {
    if (area.isEmpty())
        return {};
    const std::optional<QString> file = requestScreenshot();
    if (!file)
        return {};
    const QImage desktop(*file);
    // The portal saves a file only because we asked for a picture; it is ours to remove.
    QFile::remove(*file);
    if (desktop.isNull()) {
        logger.error("The screenshot portal returned an unreadable image: %s", *file);
        return {};
    }
    return crop(desktop, area);
}

std::optional<QString> PortalScreenGrabber::requestScreenshot() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    const QString token = QStringLiteral("pixaloom%1").arg(QRandomGenerator::global()->generate());
    QString path = requestPath(bus, token);
    const char* slot = SLOT(handleResponse(uint, QVariantMap));
    bus.connect(portalService, path, requestInterface, QStringLiteral("Response"), this, slot);

    QDBusMessage call = QDBusMessage::createMethodCall(
        portalService, portalPath, screenshotInterface, QStringLiteral("Screenshot"));
    call << QString()
         << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("interactive"), false}};
    response.reset();
    uri.clear();
    const QDBusMessage reply = bus.call(call, QDBus::Block, static_cast<int>(timeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        bus.disconnect(portalService, path, requestInterface, QStringLiteral("Response"), this,
                       slot);
        logger.error("The screenshot portal is not available: %s", reply.errorMessage());
        return std::nullopt;
    }
    // Portals older than version 0.9 ignore the token and answer on a path of their own.
    const QString handle = reply.arguments().value(0).value<QDBusObjectPath>().path();
    if (!handle.isEmpty() && handle != path) {
        bus.disconnect(portalService, path, requestInterface, QStringLiteral("Response"), this,
                       slot);
        path = handle;
        bus.connect(portalService, path, requestInterface, QStringLiteral("Response"), this, slot);
    }
    if (!response) {
        QEventLoop loop;
        QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
        waitingLoop = &loop;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        waitingLoop = nullptr;
    }
    bus.disconnect(portalService, path, requestInterface, QStringLiteral("Response"), this, slot);
    if (!response) {
        logger.error("The screenshot portal did not answer in time");
        return std::nullopt;
    }
    if (*response != 0 || uri.isEmpty()) {
        logger.error("The screenshot portal declined the screenshot: %d", *response);
        return std::nullopt;
    }
    return QUrl(uri).toLocalFile();
}

void PortalScreenGrabber::handleResponse(uint code, const QVariantMap& results) {
    response = code;
    uri = results.value(QStringLiteral("uri")).toString();
    if (waitingLoop)
        waitingLoop->quit();
}

QImage PortalScreenGrabber::crop(const QImage& desktop, const QRect& area) {
    // The picture spans the whole desktop in device pixels.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desktopArea = screen ? screen->virtualGeometry() : desktop.rect();
    if (desktopArea.isEmpty())
        return {};
    const qreal scale = qreal(desktop.width()) / desktopArea.width();
    const QRect pixels = onPixelGrid(QRectF(area.translated(-desktopArea.topLeft())), scale)
                             .intersected(desktop.rect());
    if (pixels.isEmpty())
        return {};
    QImage image = desktop.copy(pixels);
    image.setDevicePixelRatio(scale);
    return image;
}
