#include "shell/OverlayView.h"

#include "shell/ScreenCaptureWindow.h"

#include "platform/BackgroundWork.h"
#include "platform/MainQueue.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

const QColor dimmingColor(0, 0, 0, 128);
const QColor borderColor(255, 92, 0);
const QColor labelBackground = QColor::fromRgbF(0, 0, 0, 0.7f);
constexpr qreal borderWidth = 2.0;
constexpr qreal labelGap = 5.0;
constexpr qreal labelPaddingX = 3.0;
constexpr qreal labelPaddingY = 2.0;
constexpr qreal labelCornerRadius = 3.0;

// The format of the image the painter draws on; none for other surfaces.
std::optional<QImage::Format> targetFormat(QPainter& painter) {
    const QPaintDevice* target = painter.paintEngine()->paintDevice();
    if (!target || target->devType() != QInternal::Image)
        return std::nullopt;
    return static_cast<const QImage*>(target)->format();
}

// The picture under the dimming, made with the operations a frame uses on a surface of
// `format`, so both ways give the same pixels.
QImage dimmedCopy(const QImage& picture, QImage::Format format) {
    QImage dimmed = picture.convertToFormat(format);
    QPainter(&dimmed).fillRect(QRectF(QPointF(), dimmed.deviceIndependentSize()), dimmingColor);
    return dimmed;
}

QFont labelFont() {
    QFont font = QApplication::font();
    // Pixel size, not point size: the label is 12 device-independent pixels on every screen.
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    return font;
}

} // namespace

OverlayView::OverlayView(QWidget* parent)
    : QWidget(parent) {
    // Moves without a pressed button reach the view only with tracking on; they place the
    // crosshair.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void OverlayView::setScreenCaptureWindow(ScreenCaptureWindow* window) {
    screenCaptureWindow = window;
}

void OverlayView::setBackdrop(const QImage& image) {
    // Kept as it is and dimmed while painting until the dimmed copy is ready: making it first
    // would cost a 4K picture's time again before the first frame.
    backdrop = image;
    dimmedBackdrop = QImage();
    dimmedBackdropRequested = false;
    paintedSurface.reset();
    ++backdropVersion;
    // The picture covers every pixel: nothing beneath needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent, !image.isNull());
    update();
}

void OverlayView::setBackdrop(const QImage& image, const QImage& surface) {
    setBackdrop(image);
    if (!image.isNull())
        paintedSurface = PaintedSurface{surface.constBits(), surface.size(), surface.format()};
}

void OverlayView::paintDimmedPicture(QImage& target, const QImage& picture) {
    // The operations of a frame's painting, so that both give the same pixels.
    QPainter painter(&target);
    painter.drawImage(QRectF(target.rect()), picture, QRectF(picture.rect()));
    painter.fillRect(target.rect(), dimmingColor);
}

QString OverlayView::labelText(const QRectF& selection) {
    return QStringLiteral("%1 \u00D7 %2")
        .arg(static_cast<long long>(selection.width()))
        .arg(static_cast<long long>(selection.height()));
}

void OverlayView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    initialPoint = event->position();
    currentRect.reset();
    update();
}

void OverlayView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() == Qt::NoButton)
        mouseMoved(event->position());
    else if (event->buttons() & Qt::LeftButton)
        mouseDragged(event->position());
}

void OverlayView::mouseDragged(const QPointF& location) {
    if (!initialPoint)
        return;
    // Built from the two corners: the same rectangle whichever way the drag went (an
    // integer QRect::normalized() would lose a pixel on a drag up or left).
    const QPointF start = *initialPoint;
    currentRect = QRectF(std::min(location.x(), start.x()), std::min(location.y(), start.y()),
                         std::abs(location.x() - start.x()), std::abs(location.y() - start.y()));
    update();
}

void OverlayView::mouseMoved(const QPointF& location) {
    hoverPoint = location;
    update();
}

void OverlayView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const bool largeEnough = currentRect && currentRect->width() > minimumSelection &&
                             currentRect->height() > minimumSelection;
    if (!largeEnough) {
        initialPoint.reset();
        currentRect.reset();
        update();
        return;
    }
    const QPointer<OverlayView> self(this);
    if (screenCaptureWindow)
        screenCaptureWindow->captureSelectedArea(*currentRect);
    // The capture runs the event loop while the screen is read; the window may be gone.
    if (!self)
        return;
    // The capture window is closing: no redraw.
    initialPoint.reset();
    currentRect.reset();
}

void OverlayView::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    hoverPoint.reset();
    update();
}

void OverlayView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (surfaceHoldsDimmedBackdrop(painter))
        makeDimmedBackdrop(*targetFormat(painter));
    else if (!dimmedBackdrop.isNull() && targetFormat(painter) == dimmedBackdrop.format())
        paintFromDimmedBackdrop(painter, event->rect());
    else
        paintDimmingOverBackdrop(painter, event->rect());
    if (currentRect) {
        strokeBorder(painter, *currentRect);
        paintLabel(painter, *currentRect);
    }
    if (hoverPoint)
        paintCrosshair(painter, *hoverPoint);
}

bool OverlayView::surfaceHoldsDimmedBackdrop(QPainter& painter) {
    // Only the first frame finds it there, and only a frame without a selection (a press
    // can come before it) would paint the same, over the whole window as it was.
    const std::optional<PaintedSurface> painted = std::exchange(paintedSurface, std::nullopt);
    if (!painted || currentRect || mapTo(window(), QPoint()) != QPoint() ||
        window()->size() != size() || backdrop.devicePixelRatio() != 1.0 || size() != painted->size)
        return false;
    const QPaintDevice* target = painter.paintEngine()->paintDevice();
    if (!target || target->devType() != QInternal::Image)
        return false;
    const auto* surface = static_cast<const QImage*>(target);
    return surface->constBits() == painted->pixels && surface->size() == painted->size &&
           surface->format() == painted->format;
}

void OverlayView::paintDimmingOverBackdrop(QPainter& painter, const QRect& exposed) {
    if (!backdrop.isNull())
        paintBackdrop(painter, exposed);
    if (currentRect)
        dimAround(painter, *currentRect, dimmingColor);
    else
        painter.fillRect(exposed, dimmingColor);
}

void OverlayView::paintFromDimmedBackdrop(QPainter& painter, const QRect& exposed) const {
    // Every pixel is copied once: from the dimmed copy through the same rectangles the
    // dimming fills, so both ways cover the same pixels, and from the picture inside.
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const QBrush dimmed(dimmedBackdrop);
    if (currentRect) {
        dimAround(painter, *currentRect, dimmed);
        painter.fillRect(*currentRect, QBrush(backdrop));
    } else {
        painter.fillRect(exposed, dimmed);
    }
    painter.restore();
}

void OverlayView::paintBackdrop(QPainter& painter, const QRect& exposed) {
    // Converted once to the window's own pixel format, so each frame is a plain copy. An
    // opaque 32-bit picture is copied as it is onto a premultiplied window (the X backing
    // store's format): converting a 4K screen would cost more than the first frame's copy.
    const std::optional<QImage::Format> format = targetFormat(painter);
    if (format) {
        const bool plainCopy = backdrop.format() == QImage::Format_RGB32 &&
                               *format == QImage::Format_ARGB32_Premultiplied;
        if (backdrop.format() != *format && !plainCopy)
            backdrop.convertTo(*format);
    }
    // Only what the window system asks for: windows moving off the overlay uncover a part.
    const qreal ratio = backdrop.devicePixelRatio();
    painter.drawImage(QRectF(exposed), backdrop,
                      QRectF(QPointF(exposed.topLeft()) * ratio, QSizeF(exposed.size()) * ratio));
    if (format && !dimmedBackdropRequested)
        makeDimmedBackdrop(*format);
}

void OverlayView::makeDimmedBackdrop(QImage::Format format) {
    dimmedBackdropRequested = true;
    // Begun once this frame has been handed to the window system: the copy's 33 MB at 4K
    // would otherwise compete with the frame for memory and cores.
    MainQueue::async(this, [this, format, version = backdropVersion] {
        if (version != backdropVersion)
            return;
        BackgroundWork::run(
            this, [picture = backdrop, format] { return dimmedCopy(picture, format); },
            [this, version](QImage dimmed) {
                // A new picture since: its own copy is on the way.
                if (version == backdropVersion)
                    dimmedBackdrop = std::move(dimmed);
            });
    });
}

void OverlayView::dimAround(QPainter& painter, const QRectF& r, const QBrush& dimming) const {
    // Nothing is painted inside the selection, so the screen shows through undimmed.
    const qreal width = this->width();
    const qreal height = this->height();
    painter.fillRect(QRectF(0, 0, width, r.top()), dimming);
    painter.fillRect(QRectF(0, r.bottom(), width, height - r.bottom()), dimming);
    painter.fillRect(QRectF(0, r.top(), r.left(), r.height()), dimming);
    painter.fillRect(QRectF(r.right(), r.top(), width - r.right(), r.height()), dimming);
}

void OverlayView::strokeBorder(QPainter& painter, const QRectF& r) const {
    painter.setPen(QPen(borderColor, borderWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r);
}

void OverlayView::paintLabel(QPainter& painter, const QRectF& r) const {
    const QString text = labelText(r);
    const QFont font = labelFont();
    const QFontMetricsF metrics(font);
    const qreal textWidth = metrics.horizontalAdvance(text);
    const qreal textHeight = metrics.height();
    // The box starts half the text's width left of the centre, so box and text sit a little
    // right of the selection's centre. A selection at the top edge puts the label off screen.
    const QRectF box(r.center().x() - textWidth * 0.5,
                     r.top() - labelGap - (textHeight + 2 * labelPaddingY),
                     textWidth + 2 * labelPaddingX, textHeight + 2 * labelPaddingY);
    const QRectF textBox(box.left() + labelPaddingX, box.top() + labelPaddingY, textWidth,
                         textHeight);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(labelBackground);
    painter.drawRoundedRect(box, labelCornerRadius, labelCornerRadius);
    // The text carries a background of its own, as a highlighted run would.
    painter.fillRect(textBox, labelBackground);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(textBox, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter.restore();
}

void OverlayView::paintCrosshair(QPainter& painter, const QPointF& h) const {
    painter.setPen(QPen(Qt::white, 1.0));
    painter.drawLine(QPointF(0, h.y()), QPointF(width(), h.y()));
    painter.drawLine(QPointF(h.x(), 0), QPointF(h.x(), height()));
}
