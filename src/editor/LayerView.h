#pragma once

#include "editor/Layer.h"

#include <QTransform>
#include <QWidget>

// A plain view that paints its Layer: the panel's inner container, the drag handle and its
// pill, the popovers' header strips. Its look is animated through the properties below.
class LayerView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor layerBackgroundColor READ layerBackgroundColor WRITE setLayerBackgroundColor)
    Q_PROPERTY(qreal hoverOpacity READ hoverOpacity WRITE setHoverOpacity)
public:
    explicit LayerView(QWidget* parent = nullptr);

    Layer layer;

    QColor layerBackgroundColor() const { return layer.backgroundColor; }
    void setLayerBackgroundColor(const QColor& color);
    // Opacity of the "hoverBackground" sublayer; 0 while there is none.
    qreal hoverOpacity() const;
    void setHoverOpacity(qreal opacity);

    // What an ancestor's alphaValue and layerScale properties do to a child: a widget
    // without a layer tree of its own paints through these to follow its ancestors' looks.
    static qreal inheritedOpacity(const QWidget* widget);
    static QTransform inheritedTransform(const QWidget* widget);
    // A uniform scale about the centre of `area`.
    static QTransform scaleAbout(const QRectF& area, qreal scale);

protected:
    void paintEvent(QPaintEvent* event) override;
};
