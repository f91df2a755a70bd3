#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <utility>
#include <vector>

// A translucent panel: a fill of one colour under a whole-view opacity that applies to the
// children too (children that paint themselves read it through opacityOf()). Without a
// blurring compositor this is the nearest to a material backdrop.
class VisualEffectView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal alphaValue READ alphaValue WRITE setAlphaValue)
public:
    explicit VisualEffectView(const QColor& fill, QWidget* parent = nullptr);

    QColor fillColor() const { return fill; }
    qreal alphaValue() const { return alpha; }
    void setAlphaValue(qreal alpha);
    // The opacity that the VisualEffectViews around `widget` (itself included) give it.
    static qreal opacityOf(const QWidget* widget);

    // While on, the view keeps a picture of what its parent and the siblings below it paint
    // beneath it, taken at quiet moments, and paints that picture under its fill: a change of
    // its own look (a fade over the whole window, a spinner turning inside it) then repaints
    // this view alone, not everything under it. The parent must paint an opaque background.
    // Whoever changes what those widgets paint calls beneathChanged(); their places, sizes
    // and stacking the view follows by itself.
    void setKeepsPictureOfBeneath(bool keeps);
    void beneathChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The parent and the visible siblings below this view, each with its geometry: the
    // picture holds while they stay the same.
    using Scene = std::vector<std::pair<const QWidget*, QRect>>;
    Scene sceneBeneath() const;
    QSize pictureSize() const;
    bool pictureFits() const;
    void dropPicture();
    void schedulePicture();
    void takePicture();
    void renderBeneath();
    // The picture and the fill painted together, band by band over several threads, straight
    // into the window's image; false where that cannot be done and the ordinary way paints.
    bool paintPictureInBands(QPainter& painter, const QRegion& region);

    QColor fill;
    qreal alpha = 1.0;
    bool keepsPicture = false;
    bool pictureTaken = false;
    QImage beneath;
    Scene pictureScene;
    QTimer pictureTimer;
};
