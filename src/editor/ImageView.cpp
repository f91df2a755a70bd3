#include "editor/ImageView.h"

#include <QPainter>
#include <QPainterPath>

#include <utility>

#include "platform/BackgroundWork.h"
#include "platform/SmoothScaling.h"

ImageView::ImageView(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void ImageView::setCornerRadius(qreal newRadius) {
    radius = newRadius;
    update();
}

QRectF ImageView::imageRect() const {
    if (shownImage.isNull())
        return {};
    return rectFor(shownImage.deviceIndependentSize(), size());
}

QRectF ImageView::rectFor(QSizeF imageSize, QSizeF viewSize) {
    if (imageSize.isEmpty() || viewSize.isEmpty())
        return {};
    const qreal scale = std::min(
        {1.0, viewSize.width() / imageSize.width(), viewSize.height() / imageSize.height()});
    const QSizeF drawn = imageSize * scale;
    return QRectF(
        QPointF((viewSize.width() - drawn.width()) / 2, (viewSize.height() - drawn.height()) / 2),
        drawn);
}

QRect ImageView::devicePixelsOf(const QRectF& rect, qreal ratio) {
    return QRect((rect.topLeft() * ratio).toPoint(), (rect.size() * ratio).toSize());
}

QImage ImageView::scaledForView(const QImage& image, QSizeF viewSize, qreal ratio) {
    const QSize pixels =
        devicePixelsOf(rectFor(image.deviceIndependentSize(), viewSize), ratio).size();
    if (image.isNull() || pixels.isEmpty() || pixels == image.size())
        return {};
    return SmoothScaling::scaled(image, pixels);
}

void ImageView::setImage(const QImage& image, const QImage& scaledCopy) {
    BackgroundWork::discard(std::exchange(shownImage, image),
                            std::exchange(scaledImage, scaledCopy));
    scaledFrom = scaledCopy.isNull() ? 0 : image.cacheKey();
    update();
}

const QImage& ImageView::drawnImage(QSize devicePixels) {
    if (devicePixels == shownImage.size())
        return shownImage;
    if (scaledFrom != shownImage.cacheKey() || scaledImage.size() != devicePixels) {
        scaledImage = scaledForView(shownImage, size(), devicePixelRatioF());
        scaledFrom = shownImage.cacheKey();
    }
    return scaledImage;
}

void ImageView::paintEvent(QPaintEvent*) {
    if (shownImage.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    // The rounded mask belongs to the view's bounds, as a layer's corner radius would.
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), radius, radius);
    painter.setClipPath(clip);
    // Drawn on whole device pixels at its drawn size, the image is copied, not resampled.
    const qreal ratio = devicePixelRatioF();
    const QRectF target = imageRect();
    const QRect devicePixels = devicePixelsOf(target, ratio);
    const QImage& drawn = drawnImage(devicePixels.size());
    painter.scale(1 / ratio, 1 / ratio);
    painter.drawImage(QRectF(devicePixels), drawn, QRectF(drawn.rect()));
}
