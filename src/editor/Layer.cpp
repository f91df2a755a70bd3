#include "editor/Layer.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

Layer* Layer::sublayerNamed(QStringView wanted) {
    return const_cast<Layer*>(std::as_const(*this).sublayerNamed(wanted));
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
        painter.drawRoundedRect(bounds, cornerRadius, cornerRadius);
    }
    if (hasBorder) {
        // The border lies inside the bounds, as a layer's border does.
        const qreal inset = borderWidth / 2;
        const QRectF edge = bounds.adjusted(inset, inset, -inset, -inset);
        const qreal radius = std::max<qreal>(0, cornerRadius - inset);
        painter.setPen(QPen(borderColor, borderWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(edge, radius, radius);
    }
    for (const Layer& sublayer : sublayers)
        sublayer.paint(painter, sublayer.frame);
    painter.restore();
}
