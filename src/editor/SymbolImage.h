#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>
#include <QString>

class QPainter;

// The toolbar's symbols, drawn for this project as painter paths on a 20-unit grid. They
// are template images: one colour, the tint of the view that shows them, crisp at every
// device pixel ratio because they are drawn as vectors.
class SymbolImage {
public:
    // A symbol name ("pencil", "doc.on.doc", ...) this class can draw.
    static bool exists(const QString& symbol);
    // The symbol, scaled to the grid square that `pointSize` gives, centred in `area`.
    static void draw(QPainter& painter, const QString& symbol, qreal pointSize, const QRectF& area,
                     const QColor& tint);
    // Side of the square a symbol of this point size takes.
    static qreal side(qreal pointSize) { return pointSize * 1.15; }

private:
    struct Strokes {
        QPainterPath outline; // stroked with the symbol's weight
        QPainterPath solid;   // filled
    };
    static Strokes strokes(const QString& symbol);
};
