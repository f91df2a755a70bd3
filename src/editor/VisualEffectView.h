#pragma once

#include <QColor>
#include <QWidget>

class QGraphicsOpacityEffect;

// A translucent panel: a fill of one colour under a whole-view opacity that applies to the
// children too. Without a blurring compositor this is the nearest to a material backdrop.
class VisualEffectView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal alphaValue READ alphaValue WRITE setAlphaValue)
public:
    explicit VisualEffectView(const QColor& fill, QWidget* parent = nullptr);

    QColor fillColor() const { return fill; }
    qreal alphaValue() const { return alpha; }
    void setAlphaValue(qreal alpha);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill;
    qreal alpha = 1.0;
    QGraphicsOpacityEffect* opacityEffect = nullptr;
};
