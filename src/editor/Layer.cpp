#include "editor/Layer.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

Layer* Layer::sublayerNamed(QStringView wanted) {
    return const_cast<Layer*>(std::as_const(*this).sublayerNamed(wanted));
}

qreal Layer::hoverOpacity() const {
    const Layer* hover = sublayerNamed(hoverLayerName);
    return hover ? hover->opacity : 0;
}

bool Layer::setHoverOpacity(qreal value) {
    Layer* hover = sublayerNamed(hoverLayerName);
    if (hover)
        hover->opacity = value;
    return hover != nullptr;
}

const Layer* Layer::sublayerNamed(QStringView wanted) const {
    const auto found = std::find_if(sublayers.begin(), sublayers.end(), [&](const Layer& layer) {
        return !layer.name.isEmpty() && layer.name == wanted;
    });
    return found == sublayers.end() ? nullptr : &*found;
}

Layer& Layer::insertSublayer(Layer sublayer, std::size_t index) {
    index = std::min(index, sublayers.size());
    return *sublayers.insert(sublayers.begin() + static_cast<std::ptrdiff_t>(index),
                             std::move(sublayer));
}

namespace {

QPainterPath partlyRounded(const QRectF& area, qreal radius, int corners) {
    // Clockwise from the top-left corner; a square corner is a point, a rounded one a
    // quarter circle, as a rounded rectangle draws it.
    const auto corner = [&](QPainterPath& path, Layer::Corner which, QPointF point,
                            QPointF arcOrigin, qreal startAngle) {
        if (!(corners & which) || radius <= 0) {
            path.lineTo(point);
            return;
        }
        path.arcTo(QRectF(arcOrigin, QSizeF(2 * radius, 2 * radius)), startAngle, -90);
    };
    const qreal diameter = 2 * radius;
    QPainterPath path;
    path.moveTo(area.left(), area.center().y());
    corner(path, Layer::topLeft, area.topLeft(), area.topLeft(), 180);
    corner(path, Layer::topRight, area.topRight(), {area.right() - diameter, area.top()}, 90);
    corner(path, Layer::bottomRight, area.bottomRight(),
           {area.right() - diameter, area.bottom() - diameter}, 0);
    corner(path, Layer::bottomLeft, area.bottomLeft(), {area.left(), area.bottom() - diameter},
           270);
    path.closeSubpath();
    return path;
}

void drawOutline(QPainter& painter, const QRectF& area, qreal radius, int corners) {
    if (corners == Layer::allCorners)
        painter.drawRoundedRect(area, radius, radius);
    else
        painter.drawPath(partlyRounded(area, radius, corners));
}

} // namespace

void Layer::paint(QPainter& painter, const QRectF& bounds) const {
    if (opacity <= 0)
        return;
    painter.save();
    painter.setOpacity(painter.opacity() * opacity);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool hasBackground = backgroundColor.isValid() && backgroundColor.alpha() > 0;
    const bool hasBorder = borderWidth > 0 && borderColor.isValid() && borderColor.alpha() > 0;
    if (hasBackground) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(backgroundColor);
        drawOutline(painter, bounds, cornerRadius, maskedCorners);
    }
    if (hasBorder) {
        // The border lies inside the bounds, as a layer's border does.
        const qreal inset = borderWidth / 2;
        const QRectF edge = bounds.adjusted(inset, inset, -inset, -inset);
        const qreal radius = std::max<qreal>(0, cornerRadius - inset);
        painter.setPen(QPen(borderColor, borderWidth));
        painter.setBrush(Qt::NoBrush);
        drawOutline(painter, edge, radius, maskedCorners);
    }
    for (const Layer& sublayer : sublayers)
        sublayer.paint(painter, sublayer.frame);
    painter.restore();
}
