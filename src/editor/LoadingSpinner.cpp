#include "editor/LoadingSpinner.h"

#include <QPainter>

LoadingSpinner::LoadingSpinner(QWidget* parent)
    : QWidget(parent) {
    setFixedSize(sizeHint());
    setVisible(false);
    timer.setInterval(80);
    connect(&timer, &QTimer::timeout, this, [this] {
        step = (step + 1) % spokes;
        update();
    });
}

void LoadingSpinner::startAnimation() {
    show();
    timer.start();
}

void LoadingSpinner::stopAnimation() {
    timer.stop();
    hide();
}

void LoadingSpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal outer = std::min(width(), height()) / 2.0;
    for (int i = 0; i < spokes; ++i) {
        // The newest spoke is brightest; the others fade behind it.
        const int age = (step - i + spokes) % spokes;
        QColor color(Qt::white);
        color.setAlphaF(1.0 - 0.75 * age / spokes);
        painter.setPen(QPen(color, outer / 5, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(360.0 * i / spokes);
        painter.drawLine(QPointF(0, -outer * 0.45), QPointF(0, -outer * 0.9));
        painter.restore();
    }
}
