#pragma once

#include <QImage>
#include <QWidget>

// Shows one image aspect-fit inside its bounds, never above the image's own size in
// device-independent pixels, clipped to rounded corners. It keeps the image it is given and
// no scaled copy: the history's entry and the shown image are the same pixels.
class ImageView : public QWidget {
    Q_OBJECT
public:
    explicit ImageView(QWidget* parent = nullptr);

    const QImage& image() const { return shownImage; }
    void setImage(const QImage& image);
    qreal cornerRadius() const { return radius; }
    void setCornerRadius(qreal radius);
    // Where the image is drawn, in this widget's coordinates.
    QRectF imageRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage shownImage;
    qreal radius = 0;
};
