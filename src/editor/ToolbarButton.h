#pragma once

#include "editor/Layer.h"

#include <QAbstractButton>
#include <QColor>

// A borderless, layer-painted button showing either a symbol (SymbolImage) or a short
// title, in its content tint. The toolbar's icon buttons and the popovers' flat buttons
// (Edit, close, presets, Reset All) are all of this kind.
class ToolbarButton : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(qreal alphaValue READ alphaValue WRITE setAlphaValue)
    Q_PROPERTY(QColor contentTintColor READ contentTintColor WRITE setContentTintColor)
    Q_PROPERTY(qreal layerScale READ layerScale WRITE setLayerScale)
    Q_PROPERTY(QColor layerBackgroundColor READ layerBackgroundColor WRITE setLayerBackgroundColor)
    Q_PROPERTY(qreal hoverOpacity READ hoverOpacity WRITE setHoverOpacity)
    Q_PROPERTY(QColor hoverBackgroundColor READ hoverBackgroundColor WRITE setHoverBackgroundColor)
public:
    explicit ToolbarButton(QWidget* parent = nullptr);

    Layer layer;
    // A preset button's index; 0 for every other button.
    int tag = 0;

    // Whole-button opacity, 0..1 (painted, together with the ancestors' alpha).
    void setAlphaValue(qreal alpha);
    qreal alphaValue() const { return alpha; }

    void setSymbol(const QString& name, qreal pointSize);
    QString symbolName() const { return symbol; }
    qreal symbolPointSize() const { return pointSize; }

    QColor contentTintColor() const { return tint; }
    void setContentTintColor(const QColor& color);
    qreal layerScale() const { return layer.scale; }
    void setLayerScale(qreal scale);
    QColor layerBackgroundColor() const { return layer.backgroundColor; }
    void setLayerBackgroundColor(const QColor& color);
    // The "hoverBackground" sublayer's opacity and colour; no-ops while there is none.
    qreal hoverOpacity() const;
    void setHoverOpacity(qreal opacity);
    QColor hoverBackgroundColor() const;
    void setHoverBackgroundColor(const QColor& color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal alpha = 1;
    QString symbol;
    qreal pointSize = 0;
    QColor tint = Qt::white;
};
