#include "editor/VisualEffectView.h"

#include <QPainter>

#include <algorithm>

VisualEffectView::VisualEffectView(const QColor& fill, QWidget* parent)
    : QWidget(parent)
    , fill(fill) {
}

void VisualEffectView::setAlphaValue(qreal newAlpha) {
    alpha = std::clamp(newAlpha, 0.0, 1.0);
    update();
}

qreal VisualEffectView::opacityOf(const QWidget* widget) {
    qreal opacity = 1.0;
    for (const QWidget* w = widget; w && !w->isWindow(); w = w->parentWidget())
        if (const auto* view = qobject_cast<const VisualEffectView*>(w))
            opacity *= view->alphaValue();
    return opacity;
}

void VisualEffectView::paintEvent(QPaintEvent*) {
    // The opacity is applied while painting, by this view and by its children through
    // opacityOf(): a graphics effect would render the whole view, at 4K a full-window pixmap,
    // for every frame of the spinner inside it.
    QPainter painter(this);
    painter.setOpacity(alpha);
    painter.fillRect(rect(), fill);
}
