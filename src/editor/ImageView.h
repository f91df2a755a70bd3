#pragma once

#include <QImage>
#include <QWidget>

// Shows one image aspect-fit inside its bounds, never above the image's own size in
// device-independent pixels, clipped to rounded corners. It keeps the image it is given (the
// history's entry and the shown image are the same pixels) and, for painting, one copy at the
// size it is drawn: a 4K image scaled afresh for every frame of the loading overlay or its
// spinner would cost tens of milliseconds a frame.
class ImageView : public QWidget {
    Q_OBJECT
public:
    explicit ImageView(QWidget* parent = nullptr);

    const QImage& image() const { return shownImage; }
    // `scaledCopy`, when given, is the image already scaled as this view will draw it
    // (scaledForView), made where it does not stall the GUI thread.
    void setImage(const QImage& image, const QImage& scaledCopy = {});
    qreal cornerRadius() const { return radius; }
    void setCornerRadius(qreal radius);
    // Where the image is drawn, in this widget's coordinates.
    QRectF imageRect() const;
    // The image as a view of `viewSize` points at device pixel ratio `ratio` draws it
    // (premultiplied, as it is drawn fastest); null when it is drawn at its own size. Safe on
    // any thread.
    static QImage scaledForView(const QImage& image, QSizeF viewSize, qreal ratio);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static QRectF rectFor(QSizeF imageSize, QSizeF viewSize);
    static QRect devicePixelsOf(const QRectF& rect, qreal ratio);
    const QImage& drawnImage(QSize devicePixels);

    QImage shownImage;
    QImage scaledImage;
    qint64 scaledFrom = 0;
    qreal radius = 0;
};
