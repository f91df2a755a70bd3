#pragma once

#include "platform/ScreenGrabber.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <optional>

class QEventLoop;

// Grabs through the freedesktop screenshot portal (org.freedesktop.portal.Screenshot) on the
// session bus, without asking the user to pick an area, and crops the whole-desktop picture
// it returns to the area. Waits at most `timeout` for the portal's answer.
class PortalScreenGrabber : public QObject, public ScreenGrabber {
    Q_OBJECT
public:
    explicit PortalScreenGrabber(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    QImage grab(const QRect& area) override;

private slots:
    void handleResponse(uint response, const QVariantMap& results);

private:
    std::optional<QString> requestScreenshot();
    static QImage crop(const QImage& desktop, const QRect& area);

    std::chrono::milliseconds timeout;
    QEventLoop* waitingLoop = nullptr;
    std::optional<uint> response;
    QString uri;
};
