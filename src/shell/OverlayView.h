#pragma once

#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <optional>

class ScreenCaptureWindow;

// The capture window's content: dims the screen, lets the user drag out a rectangle, shows
// it undimmed with an orange border, its size above it and a crosshair through the pointer,
// and hands a large enough rectangle to the capture window on release. Coordinates are the
// view's own: device-independent pixels, origin top-left.
class OverlayView : public QWidget {
    Q_OBJECT
public:
    explicit OverlayView(QWidget* parent = nullptr);

    void setScreenCaptureWindow(ScreenCaptureWindow* window);
    // A picture of the screen to paint beneath the dimming, for desktops where a translucent
    // window shows nothing of what lies under it. A null image paints nothing beneath.
    void setBackdrop(const QImage& image);
    // The same, where `surface` (the image the window paints on) already holds the first
    // frame beneath what lies above the dimming: the picture painted there, row by row, with
    // paintDimmedPicture. That frame then paints only what lies above, if it paints onto that
    // surface; otherwise it paints all as usual.
    void setBackdrop(const QImage& image, const QImage& surface);

    // Paints `picture` onto `target` of the same size as a frame without a selection shows it
    // at a device pixel ratio of 1: beneath the dimming. Safe on several threads at once,
    // each with images of its own (rows of one surface, for instance).
    static void paintDimmedPicture(QImage& target, const QImage& picture);
    // Whether the dimmed copy of the backdrop, made in the background after the first frame,
    // is ready: frames then copy pixels instead of dimming the picture while painting.
    bool hasDimmedBackdrop() const { return !dimmedBackdrop.isNull(); }

    // Both sides strictly larger than this are captured on release.
    static constexpr qreal minimumSelection = 20.0;

    // "W × H" with both sides truncated to whole device-independent pixels.
    static QString labelText(const QRectF& selection);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void mouseDragged(const QPointF& location);
    void mouseMoved(const QPointF& location);
    bool surfaceHoldsDimmedBackdrop(QPainter& painter);
    void paintDimmingOverBackdrop(QPainter& painter, const QRect& exposed);
    void paintFromDimmedBackdrop(QPainter& painter, const QRect& exposed) const;
    void paintBackdrop(QPainter& painter, const QRect& exposed);
    void makeDimmedBackdrop(QImage::Format format);
    void dimAround(QPainter& painter, const QRectF& selection, const QBrush& dimming) const;
    void strokeBorder(QPainter& painter, const QRectF& selection) const;
    void paintLabel(QPainter& painter, const QRectF& selection) const;
    void paintCrosshair(QPainter& painter, const QPointF& point) const;

    std::optional<QPointF> initialPoint;
    std::optional<QRectF> currentRect;
    std::optional<QPointF> hoverPoint;
    QPointer<ScreenCaptureWindow> screenCaptureWindow;
    QImage backdrop;
    // The backdrop under the dimming in the format of the surface painted on, made on a worker
    // after the first frame: from then on a frame is plain copies, with no blending. Null
    // until it is ready.
    QImage dimmedBackdrop;
    bool dimmedBackdropRequested = false;
    // The surface that holds the dimmed backdrop before the first frame, as it was then.
    struct PaintedSurface {
        const uchar* pixels = nullptr;
        QSize size;
        QImage::Format format = QImage::Format_Invalid;
    };
    std::optional<PaintedSurface> paintedSurface;
    quint64 backdropVersion = 0;
};
