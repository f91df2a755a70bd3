#include "editor/ImageView.h"

#include <QPainter>
#include <QPainterPath>

ImageView::ImageView(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void ImageView::setImage(const QImage& image) {
    shownImage = image;
    update();
}

void ImageView::setCornerRadius(qreal newRadius) {
    radius = newRadius;
    update();
}

QRectF ImageView::imageRect() const {
    if (shownImage.isNull() || width() <= 0 || height() <= 0)
        return {};
    const QSizeF imageSize = shownImage.deviceIndependentSize();
    const qreal scale = std::min({1.0, width() / imageSize.width(), height() / imageSize.height()});
    const QSizeF drawn = imageSize * scale;
    return QRectF(QPointF((width() - drawn.width()) / 2, (height() - drawn.height()) / 2), drawn);
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
    painter.drawImage(imageRect(), shownImage);
}
