// Background colour and padding, composed from the unpadded base in originalImage so that
// successive changes never pad a padding.
#include "editor/EditViewController.h"

#include "editor/ControlPanel.h"
#include "editor/ImageView.h"

#include <QPainter>

QImage EditViewController::applyBackgroundColorWithSeparatePadding(const QImage& image,
                                                                   const QColor& color,
                                                                   qreal horizontalPadding,
                                                                   qreal verticalPadding) const {
    const qreal ratio = image.devicePixelRatio();
    const QSizeF points = image.deviceIndependentSize();
    const QSizeF canvasPoints(points.width() + 2 * horizontalPadding,
                              points.height() + 2 * verticalPadding);
    QImage canvas(
        QSize(qRound(canvasPoints.width() * ratio), qRound(canvasPoints.height() * ratio)),
        QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(color);
    QPainter painter(&canvas);
    // Copy, not blend: the base's own pixels, transparent ones included, replace the fill.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF(QPointF(horizontalPadding, verticalPadding), points), image);
    painter.end();
    return canvas;
}

QImage EditViewController::applyBackgroundColor(const QImage& image, const QColor& color,
                                                qreal padding) const {
    return applyBackgroundColorWithSeparatePadding(image, color, padding, padding);
}

void EditViewController::controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
    ControlPanel* panel, const QColor& color, qreal horizontalPadding, qreal verticalPadding) {
    logger.info("Applying background color and padding: h=%f, v=%f", horizontalPadding,
                verticalPadding);
    currentBackgroundColor = color;
    currentHorizontalPadding = horizontalPadding;
    currentVerticalPadding = verticalPadding;
    currentPadding = std::max(horizontalPadding, verticalPadding);
    showComposite(color, horizontalPadding, verticalPadding,
                  panel ? panel->paddingDrag() : std::nullopt);
}

void EditViewController::controlPanelDidChangeBackgroundColorPadding(ControlPanel*,
                                                                     const QColor& color,
                                                                     qreal padding) {
    logger.info("Legacy padding method called with padding: %f", padding);
    currentBackgroundColor = color;
    currentPadding = padding;
    currentHorizontalPadding = padding;
    currentVerticalPadding = padding;
    showComposite(color, padding, padding);
}

void EditViewController::showComposite(const QColor& color, qreal horizontalPadding,
                                       qreal verticalPadding, std::optional<quint64> drag) {
    showPendingStepNow();
    if (originalImage.isNull() && imageView)
        originalImage = imageView->image();
    if (originalImage.isNull())
        return;
    const QImage composite = horizontalPadding == verticalPadding
                                 ? applyBackgroundColor(originalImage, color, horizontalPadding)
                                 : applyBackgroundColorWithSeparatePadding(
                                       originalImage, color, horizontalPadding, verticalPadding);
    const bool showingNewest = currentHistoryIndex == static_cast<int>(imageHistory.size()) - 1;
    if (drag && drag == recordedPaddingDrag && showingNewest)
        replaceNewestHistoryImage(composite);
    else
        addToHistory(composite);
    recordedPaddingDrag = drag;
    showImage(composite);
    hasBackgroundColor = true;
}
