#pragma once

#include <QColor>
#include <QRectF>
#include <QString>
#include <QStringView>

#include <vector>

class QPainter;

// The drawable state of a view: what Core Animation keeps in a view's layer. Views paint
// themselves from it, so tests can read a view's look without reading pixels.
class Layer {
public:
    QString name;
    // Position in the owning view's coordinates; only sublayers use it.
    QRectF frame;
    QColor backgroundColor = Qt::transparent;
    qreal cornerRadius = 0;
    // Which corners the radius rounds; the others stay square.
    enum Corner { topLeft = 1, topRight = 2, bottomLeft = 4, bottomRight = 8, allCorners = 15 };
    int maskedCorners = allCorners;
    qreal borderWidth = 0;
    QColor borderColor = Qt::transparent;
    qreal opacity = 1;
    // A uniform scale about the layer's centre: the only transform the panel uses.
    qreal scale = 1;
    std::vector<Layer> sublayers;

    // The sublayer that hover feedback adds to a button or the drag handle.
    static inline const QString hoverLayerName = QStringLiteral("hoverBackground");

    // The first sublayer with this name; unnamed sublayers never match.
    Layer* sublayerNamed(QStringView wanted);
    const Layer* sublayerNamed(QStringView wanted) const;
    // Index 0 is the bottom of the stack.
    Layer& insertSublayer(Layer sublayer, std::size_t index);
    // The hover sublayer's opacity; 0 while the layer has none. Setting it without the
    // sublayer does nothing and answers false.
    qreal hoverOpacity() const;
    bool setHoverOpacity(qreal value);

    // Background and border over `bounds`, then the sublayers (in the same coordinates).
    void paint(QPainter& painter, const QRectF& bounds) const;
};
