#include "editor/LoadingSpinner.h"

#include "editor/VisualEffectView.h"

#include <QPainter>

#include <cmath>

namespace {

// About 33 frames a second; the head moves with the clock, not by frame, so a late frame
// does not slow the turn.
constexpr int frameInterval = 30;
constexpr qreal turnMilliseconds = 1000;

} // namespace

LoadingSpinner::LoadingSpinner(QWidget* parent)
    : QWidget(parent) {
    setFixedSize(sizeHint());
    setVisible(false);
    timer.setInterval(frameInterval);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, [this] {
        if (!ownFramesPaused)
            update();
    });
}

void LoadingSpinner::startAnimation() {
    show();
    clock.start();
    timer.start();
}

void LoadingSpinner::stopAnimation() {
    timer.stop();
    hide();
}

qreal LoadingSpinner::headAngle() const {
    if (!clock.isValid())
        return 0;
    return std::fmod(360.0 * qreal(clock.elapsed()) / turnMilliseconds, 360.0);
}

void LoadingSpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(VisualEffectView::opacityOf(parentWidget()));
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal outer = std::min(width(), height()) / 2.0;
    const qreal head = headAngle();
    for (int i = 0; i < spokes; ++i) {
        // The spoke at the head is brightest; the others fade behind it.
        const qreal angle = 360.0 * i / spokes;
        const qreal behind = std::fmod(head - angle + 360.0, 360.0) / 360.0;
        QColor color(Qt::white);
        color.setAlphaF(1.0 - 0.75 * behind);
        painter.setPen(QPen(color, outer / 5, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(angle);
        painter.drawLine(QPointF(0, -outer * 0.45), QPointF(0, -outer * 0.9));
        painter.restore();
    }
}
