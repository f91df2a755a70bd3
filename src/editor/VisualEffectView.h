#pragma once

#include <QColor>
#include <QWidget>

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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill;
    qreal alpha = 1.0;
};
