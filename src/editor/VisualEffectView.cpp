#include "editor/VisualEffectView.h"

#include <QGraphicsOpacityEffect>
#include <QPainter>

VisualEffectView::VisualEffectView(const QColor& fill, QWidget* parent)
    : QWidget(parent)
    , fill(fill) {
}

void VisualEffectView::setAlphaValue(qreal newAlpha) {
    alpha = std::clamp(newAlpha, 0.0, 1.0);
    // At full opacity the effect would only cost an offscreen pass per paint.
    if (alpha >= 1.0) {
        setGraphicsEffect(nullptr);
        opacityEffect = nullptr;
    } else {
        if (!opacityEffect) {
            opacityEffect = new QGraphicsOpacityEffect(this);
            setGraphicsEffect(opacityEffect);
        }
        opacityEffect->setOpacity(alpha);
    }
    update();
}

void VisualEffectView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), fill);
}
