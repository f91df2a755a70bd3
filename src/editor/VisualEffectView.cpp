#include "editor/VisualEffectView.h"

#include "editor/BandedPainting.h"
#include "platform/BackgroundWork.h"

#include <QEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// How long after the last change the picture is taken. While the view shows, and each of its
// frames repaints everything beneath, soon: between two frames of a fade (about 30 a
// second). While it is hidden, later, so that a run of changes (undo steps, a window being
// resized) is pictured once, when it is over.
constexpr int shownPictureDelay = 16;   // milliseconds
constexpr int hiddenPictureDelay = 200; // milliseconds

// Below this many pixels a frame (the spinner turning) is cheaper painted on one thread.
constexpr qint64 bandedPaintingPixels = 512 * 512;

qint64 pixelsIn(const QRegion& region) {
    qint64 pixels = 0;
    for (const QRect& rect : region)
        pixels += qint64(rect.width()) * rect.height();
    return pixels;
}

} // namespace

VisualEffectView::VisualEffectView(const QColor& fill, QWidget* parent)
    : QWidget(parent)
    , fill(fill) {
    pictureTimer.setSingleShot(true);
    connect(&pictureTimer, &QTimer::timeout, this, &VisualEffectView::takePicture);
}

void VisualEffectView::setAlphaValue(qreal newAlpha) {
    alpha = std::clamp(newAlpha, 0.0, 1.0);
    update();
}

qreal VisualEffectView::opacityOf(const QWidget* widget) {
    qreal opacity = 1.0;
    for (const QWidget* w = widget; w && !w->isWindow(); w = w->parentWidget())
        if (const auto* view = qobject_cast<const VisualEffectView*>(w))
            opacity *= view->alphaValue();
    return opacity;
}

void VisualEffectView::setKeepsPictureOfBeneath(bool keeps) {
    keepsPicture = keeps;
    dropPicture();
    if (QWidget* parent = parentWidget())
        keeps ? parent->installEventFilter(this) : parent->removeEventFilter(this);
    if (keeps) {
        schedulePicture();
    } else {
        pictureTimer.stop();
        beneath = QImage();
    }
    update();
}

void VisualEffectView::beneathChanged() {
    if (!keepsPicture)
        return;
    dropPicture();
    schedulePicture();
    update();
}

void VisualEffectView::paintEvent(QPaintEvent* event) {
    // The opacity is applied while painting, by this view and by its children through
    // opacityOf(): a graphics effect would render the whole view, at 4K a full-window pixmap,
    // for every frame of the spinner inside it.
    QPainter painter(this);
    if (testAttribute(Qt::WA_OpaquePaintEvent)) {
        // Nothing was painted beneath this view: the picture stands in for it.
        if (!pictureFits())
            renderBeneath();
        if (paintPictureInBands(painter, event->region()))
            return;
        painter.drawImage(QPoint(0, 0), beneath);
    } else if (keepsPicture && !pictureTimer.isActive()) {
        // This frame paints everything beneath the ordinary way; the picture is taken in a
        // turn of its own, so that no single frame pays for both.
        schedulePicture();
    }
    if (alpha > 0) {
        painter.setOpacity(alpha);
        painter.fillRect(rect(), fill);
    }
}

bool VisualEffectView::paintPictureInBands(QPainter& painter, const QRegion& region) {
    // Only where the window's pixels are an image in this process, and the picture's pixels
    // fall one to one on them.
    QPaintEngine* engine = painter.paintEngine();
    QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
    const QTransform transform = painter.deviceTransform();
    const qreal ratio = beneath.devicePixelRatio();
    if (!device || device->devType() != QInternal::Image ||
        transform.type() > QTransform::TxScale || transform.m11() != ratio ||
        transform.m22() != ratio)
        return false;
    QRegion area;
    for (const QRect& rect : region) {
        const QRectF mapped = transform.mapRect(QRectF(rect));
        if (mapped != QRectF(mapped.toRect()))
            return false;
        area += mapped.toRect();
    }
    const QPoint origin = transform.map(QPointF(0, 0)).toPoint();
    if (pixelsIn(area) < bandedPaintingPixels ||
        !QRect(origin, beneath.size()).contains(area.boundingRect()))
        return false;
    // The picture in its own pixels, as the bands address it.
    const QImage picture(beneath.constBits(), beneath.width(), beneath.height(),
                         beneath.bytesPerLine(), beneath.format());
    BandedPainting::paint(*static_cast<QImage*>(device), area,
                          [&](QPainter& band, const QRect& rect) {
                              band.drawImage(rect.topLeft(), picture, rect.translated(-origin));
                              if (alpha > 0) {
                                  band.setOpacity(alpha);
                                  band.fillRect(rect, fill);
                                  band.setOpacity(1);
                              }
                          });
    return true;
}

void VisualEffectView::resizeEvent(QResizeEvent* event) {
    if (keepsPicture && !pictureFits()) {
        dropPicture();
        schedulePicture();
    }
    QWidget::resizeEvent(event);
}

bool VisualEffectView::eventFilter(QObject* watched, QEvent* event) {
    // The parent shown or resized: a picture is taken once it has settled, before anyone
    // waits for this view.
    if (keepsPicture && watched == parentWidget() &&
        (event->type() == QEvent::Show || event->type() == QEvent::Resize))
        schedulePicture();
    return QWidget::eventFilter(watched, event);
}

VisualEffectView::Scene VisualEffectView::sceneBeneath() const {
    Scene scene;
    const QWidget* parent = parentWidget();
    if (!parent)
        return scene;
    scene.emplace_back(parent, parent->rect());
    for (const QObject* child : parent->children()) {
        if (child == this)
            break;
        const auto* sibling = qobject_cast<const QWidget*>(child);
        if (sibling && !sibling->isWindow() && !sibling->isHidden())
            scene.emplace_back(sibling, sibling->geometry());
    }
    return scene;
}

QSize VisualEffectView::pictureSize() const {
    const qreal ratio = devicePixelRatioF();
    return QSize(int(std::ceil(width() * ratio)), int(std::ceil(height() * ratio)));
}

bool VisualEffectView::pictureFits() const {
    return pictureTaken && beneath.devicePixelRatio() == devicePixelRatioF() &&
           beneath.size() == pictureSize() && pictureScene == sceneBeneath();
}

void VisualEffectView::dropPicture() {
    pictureTaken = false;
    // Qt paints what is beneath again.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void VisualEffectView::schedulePicture() {
    pictureTimer.start(isVisible() ? shownPictureDelay : hiddenPictureDelay);
}

void VisualEffectView::takePicture() {
    const QWidget* parent = parentWidget();
    if (!keepsPicture || !parent || !parent->isVisible() || pictureFits())
        return;
    const QSize pixels = pictureSize();
    if (beneath.size() == pixels) {
        renderBeneath();
        return;
    }
    // Fresh pages for a 4K picture take longer to fault in than the picture takes to paint:
    // a pool thread touches them first. The memory is kept from then on.
    BackgroundWork::run(
        this,
        [pixels] {
            QImage memory(pixels, QImage::Format_RGB32);
            memory.fill(0);
            return memory;
        },
        [this](QImage memory) {
            if (memory.size() != pictureSize())
                return;
            beneath = std::move(memory);
            takePicture();
        });
}

void VisualEffectView::renderBeneath() {
    QWidget* parent = parentWidget();
    if (!keepsPicture || !parent)
        return;
    if (beneath.size() != pictureSize())
        beneath = QImage(pictureSize(), QImage::Format_RGB32);
    beneath.setDevicePixelRatio(devicePixelRatioF());
    QPainter painter(&beneath);
    // Each widget renders the part of it this view covers, at that part's place in the
    // picture: the parent's own background and painting, then the siblings in stacking order
    // up to this view.
    const auto renderPart = [&](QWidget* widget, QPoint origin, QWidget::RenderFlags flags) {
        const QRect part = QRect(QPoint(), widget->size()) & geometry().translated(-origin);
        if (!part.isEmpty())
            widget->render(&painter, origin + part.topLeft() - pos(), QRegion(part), flags);
    };
    pictureScene = sceneBeneath();
    for (const auto& [widget, geometry] : pictureScene) {
        auto* painted = const_cast<QWidget*>(widget);
        if (painted == parent)
            renderPart(painted, QPoint(), QWidget::DrawWindowBackground);
        else
            renderPart(painted, geometry.topLeft(), QWidget::DrawChildren);
    }
    painter.end();
    pictureTaken = true;
    // From now on Qt leaves what is beneath unpainted when this view changes.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}
