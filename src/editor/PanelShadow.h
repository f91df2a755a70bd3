#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QWidget>

// The soft shadow under a floating panel, painted by a sibling that sits just below it. A
// QGraphicsDropShadowEffect on the panel would blur the panel's children as well and render
// the whole panel off screen on every repaint.
class PanelShadow : public QWidget {
    Q_OBJECT
public:
    struct Style {
        QColor color;
        QPointF offset; // in Qt's coordinates
        qreal radius;
        qreal cornerRadius;
    };

    PanelShadow(QWidget* caster, const Style& style);

    // Follows the caster: same parent, just below it, around its frame.
    void follow();

    // How far the shadow reaches past the caster's frame.
    int margin() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage shadowImage(const QSize& casterSize, qreal devicePixelRatio);

    QPointer<QWidget> caster;
    Style style;
    QImage cached;
};
