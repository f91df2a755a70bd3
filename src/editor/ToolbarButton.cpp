#include "editor/ToolbarButton.h"

#include "editor/LayerView.h"
#include "editor/SymbolImage.h"

#include <QPainter>

ToolbarButton::ToolbarButton(QWidget* parent)
    : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
}

void ToolbarButton::setAlphaValue(qreal value) {
    alpha = std::clamp<qreal>(value, 0, 1);
    update();
}

void ToolbarButton::setSymbol(const QString& name, qreal size) {
    symbol = name;
    pointSize = size;
    update();
}

void ToolbarButton::setContentTintColor(const QColor& color) {
    tint = color;
    update();
}

void ToolbarButton::setLayerScale(qreal scale) {
    layer.scale = scale;
    update();
}

void ToolbarButton::setLayerBackgroundColor(const QColor& color) {
    layer.backgroundColor = color;
    update();
}

qreal ToolbarButton::hoverOpacity() const {
    return layer.hoverOpacity();
}

void ToolbarButton::setHoverOpacity(qreal opacity) {
    if (layer.setHoverOpacity(opacity))
        update();
}

QColor ToolbarButton::hoverBackgroundColor() const {
    const Layer* hover = layer.sublayerNamed(Layer::hoverLayerName);
    return hover ? hover->backgroundColor : QColor();
}

void ToolbarButton::setHoverBackgroundColor(const QColor& color) {
    if (Layer* hover = layer.sublayerNamed(Layer::hoverLayerName)) {
        hover->backgroundColor = color;
        update();
    }
}

QSize ToolbarButton::sizeHint() const {
    return {32, 32};
}

void ToolbarButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(alpha * LayerView::inheritedOpacity(this));
    const QRectF bounds = rect();
    painter.setTransform(LayerView::scaleAbout(bounds, layer.scale) *
                         LayerView::inheritedTransform(this));
    layer.paint(painter, bounds);
    if (!symbol.isEmpty()) {
        SymbolImage::draw(painter, symbol, pointSize, bounds, tint);
    } else if (!text().isEmpty()) {
        painter.setPen(tint);
        painter.setFont(font());
        painter.drawText(bounds, Qt::AlignCenter, text());
    }
}
