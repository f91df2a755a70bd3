#include "editor/ThemePopUpButton.h"

#include <QPainter>
#include <QPainterPath>

ThemePopUpButton::ThemePopUpButton(QWidget* parent)
    : QComboBox(parent) {
}

void ThemePopUpButton::paintEvent(QPaintEvent* event) {
    QComboBox::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(chevronColor, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF centre(width() - 12, height() / 2.0);
    QPainterPath chevron;
    chevron.moveTo(centre + QPointF(-3.5, -1.75));
    chevron.lineTo(centre + QPointF(0, 1.75));
    chevron.lineTo(centre + QPointF(3.5, -1.75));
    painter.drawPath(chevron);
}
