#include "platform/ScreenGrabber.h"

#include "platform/PortalScreenGrabber.h"
#include "platform/QtScreenGrabber.h"

QImage ScreenGrabber::grabAsRead(const QRect& area, const RowsRead& rowsRead) {
    return tellingAllRows(grab(area), rowsRead);
}

QImage ScreenGrabber::tellingAllRows(QImage image, const RowsRead& rowsRead) {
    if (!image.isNull() && rowsRead)
        rowsRead(image, 0, image.height());
    return image;
}

QRect ScreenGrabber::onPixelGrid(const QRectF& area, qreal ratio) {
    return QRect(qRound(area.x() * ratio), qRound(area.y() * ratio), qRound(area.width() * ratio),
                 qRound(area.height() * ratio));
}

std::vector<std::unique_ptr<ScreenGrabber>> ScreenGrabber::standardGrabbers() {
    std::vector<std::unique_ptr<ScreenGrabber>> grabbers;
    grabbers.push_back(std::make_unique<QtScreenGrabber>());
    grabbers.push_back(std::make_unique<PortalScreenGrabber>());
    return grabbers;
}
