#include "editor/LayerView.h"

#include <QPainter>

LayerView::LayerView(QWidget* parent)
    : QWidget(parent) {
}

void LayerView::setLayerBackgroundColor(const QColor& color) {
    layer.backgroundColor = color;
    update();
}

qreal LayerView::hoverOpacity() const {
    return layer.hoverOpacity();
}

void LayerView::setHoverOpacity(qreal opacity) {
    if (layer.setHoverOpacity(opacity))
        update();
}

qreal LayerView::inheritedOpacity(const QWidget* widget) {
    qreal opacity = 1;
    for (const QWidget* ancestor = widget->parentWidget(); ancestor;
         ancestor = ancestor->isWindow() ? nullptr : ancestor->parentWidget()) {
        const QVariant alpha = ancestor->property("alphaValue");
        if (alpha.isValid())
            opacity *= alpha.toReal();
    }
    return opacity;
}

QTransform LayerView::inheritedTransform(const QWidget* widget) {
    QTransform transform;
    for (const QWidget* ancestor = widget->parentWidget(); ancestor;
         ancestor = ancestor->isWindow() ? nullptr : ancestor->parentWidget()) {
        const QVariant scale = ancestor->property("layerScale");
        if (!scale.isValid() || scale.toReal() == 1)
            continue;
        const QRectF area(widget->mapFrom(ancestor, QPoint(0, 0)), ancestor->size());
        transform *= scaleAbout(area, scale.toReal());
    }
    return transform;
}

QTransform LayerView::scaleAbout(const QRectF& area, qreal scale) {
    const QPointF centre = area.center();
    return QTransform::fromTranslate(-centre.x(), -centre.y()) *
           QTransform::fromScale(scale, scale) * QTransform::fromTranslate(centre.x(), centre.y());
}

void LayerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(inheritedOpacity(this));
    painter.setTransform(inheritedTransform(this));
    layer.paint(painter, rect());
}
