#include "editor/SymbolImage.h"

#include <QPainter>
#include <QTransform>

namespace {

constexpr qreal grid = 20;

QPainterPath pencil() {
    // Drawn lying flat, point to the left, then turned so the point rests bottom-left.
    QPainterPath body;
    body.moveTo(0.5, 10);
    body.lineTo(4.5, 7.6);
    body.lineTo(17.2, 7.6);
    body.quadTo(19.6, 7.6, 19.6, 10);
    body.quadTo(19.6, 12.4, 17.2, 12.4);
    body.lineTo(4.5, 12.4);
    body.closeSubpath();
    body.moveTo(15, 7.6);
    body.lineTo(15, 12.4);
    QTransform turn;
    turn.translate(grid / 2, grid / 2);
    turn.rotate(-45);
    turn.translate(-grid / 2, -grid / 2);
    return turn.map(body);
}

QPainterPath uturnBackward() {
    QPainterPath arrow;
    arrow.moveTo(7, 3.5);
    arrow.lineTo(3, 7.5);
    arrow.lineTo(7, 11.5);
    arrow.moveTo(3, 7.5);
    arrow.lineTo(12.5, 7.5);
    arrow.arcTo(QRectF(8, 7.5, 9, 9), 90, -180);
    arrow.lineTo(7.5, 16.5);
    return arrow;
}

QPainterPath mirrored(const QPainterPath& path) {
    return QTransform(-1, 0, 0, 1, grid, 0).map(path);
}

QPainterPath documents() {
    QPainterPath pages;
    pages.moveTo(13, 5.2);
    pages.lineTo(13, 4);
    pages.quadTo(13, 2, 11, 2);
    pages.lineTo(5, 2);
    pages.quadTo(3, 2, 3, 4);
    pages.lineTo(3, 13);
    pages.quadTo(3, 15, 5, 15);
    pages.lineTo(6.2, 15);
    pages.addRoundedRect(QRectF(7.5, 6.5, 9.5, 12), 2, 2);
    return pages;
}

QPainterPath palette() {
    QPainterPath outline;
    outline.moveTo(10, 2.5);
    outline.cubicTo(15, 2.5, 18, 5.5, 18, 9.5);
    outline.cubicTo(18, 13, 15, 13.5, 13, 13);
    outline.cubicTo(11.2, 12.6, 10.5, 14, 11.3, 15.3);
    outline.cubicTo(12.2, 16.8, 11.2, 17.8, 9.5, 17.5);
    outline.cubicTo(5, 17, 2, 14, 2, 10);
    outline.cubicTo(2, 5.5, 5.5, 2.5, 10, 2.5);
    outline.closeSubpath();
    return outline;
}

QPainterPath paletteDots() {
    QPainterPath dots;
    for (const QPointF centre : {QPointF(6.2, 9), QPointF(9, 6), QPointF(13, 6.5)})
        dots.addEllipse(centre, 1.4, 1.4);
    return dots;
}

QPainterPath sliders() {
    QPainterPath path;
    constexpr qreal knob = 2.2;
    const std::pair<qreal, qreal> rows[] = {{4.5, 13}, {10, 7}, {15.5, 11.5}};
    for (const auto& [y, x] : rows) {
        path.moveTo(2, y);
        path.lineTo(x - knob, y);
        path.moveTo(x + knob, y);
        path.lineTo(18, y);
        path.addEllipse(QPointF(x, y), knob, knob);
    }
    return path;
}

QPainterPath shareBox() {
    QPainterPath path;
    path.moveTo(7, 8);
    path.lineTo(6, 8);
    path.quadTo(4, 8, 4, 10);
    path.lineTo(4, 16.5);
    path.quadTo(4, 18.5, 6, 18.5);
    path.lineTo(14, 18.5);
    path.quadTo(16, 18.5, 16, 16.5);
    path.lineTo(16, 10);
    path.quadTo(16, 8, 14, 8);
    path.lineTo(13, 8);
    path.moveTo(10, 1.5);
    path.lineTo(10, 12.5);
    path.moveTo(6.8, 4.7);
    path.lineTo(10, 1.5);
    path.lineTo(13.2, 4.7);
    return path;
}

QPainterPath checkmark() {
    QPainterPath path;
    path.moveTo(3.5, 10.5);
    path.lineTo(8, 15.5);
    path.lineTo(16.5, 4.5);
    return path;
}

} // namespace

bool SymbolImage::exists(const QString& symbol) {
    return !strokes(symbol).outline.isEmpty();
}

SymbolImage::Strokes SymbolImage::strokes(const QString& symbol) {
    if (symbol == u"pencil")
        return {pencil(), {}};
    if (symbol == u"arrow.uturn.backward")
        return {uturnBackward(), {}};
    if (symbol == u"arrow.uturn.forward")
        return {mirrored(uturnBackward()), {}};
    if (symbol == u"doc.on.doc")
        return {documents(), {}};
    if (symbol == u"paintpalette")
        return {palette(), paletteDots()};
    if (symbol == u"slider.horizontal.3")
        return {sliders(), {}};
    if (symbol == u"square.and.arrow.up")
        return {shareBox(), {}};
    if (symbol == u"checkmark")
        return {checkmark(), {}};
    return {};
}

void SymbolImage::draw(QPainter& painter, const QString& symbol, qreal pointSize,
                       const QRectF& area, const QColor& tint) {
    const Strokes drawing = strokes(symbol);
    const qreal size = side(pointSize);
    const qreal unit = size / grid;
    QTransform toArea;
    toArea.translate(area.center().x() - size / 2, area.center().y() - size / 2);
    toArea.scale(unit, unit);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // A medium weight: about a tenth of the point size.
    QPen pen(tint, pointSize * 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(toArea.map(drawing.outline));
    if (!drawing.solid.isEmpty()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(tint);
        painter.drawPath(toArea.map(drawing.solid));
    }
    painter.restore();
}
