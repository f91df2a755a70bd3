#include "editor/Popover.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>

Popover::Popover(QWidget* owner, const QSize& contentSize, const QColor& background,
                 qreal cornerRadius, const QColor& border)
    : QWidget(owner, Qt::Popup | Qt::FramelessWindowHint)
    , background(background)
    , cornerRadius(cornerRadius)
    , border(border) {
    setFixedSize(contentSize);
}

void Popover::showRelativeTo(QWidget* anchor) {
    const QPoint below = anchor->mapToGlobal(QPoint(anchor->width() / 2, anchor->height()));
    QPoint topLeft(below.x() - width() / 2, below.y() + gap);
    if (const QScreen* screen = anchor->screen()) {
        const QRect available = screen->availableGeometry();
        topLeft.setX(std::clamp(topLeft.x(), available.left(),
                                std::max(available.left(), available.right() - width() + 1)));
        topLeft.setY(std::clamp(topLeft.y(), available.top(),
                                std::max(available.top(), available.bottom() - height() + 1)));
    }
    move(topLeft);
    show();
    raise();
    activateWindow();
}

void Popover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(border, 1));
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius,
                            cornerRadius);
}

void Popover::resizeEvent(QResizeEvent*) {
    // Without a compositor a translucent window is opaque: the mask rounds the corners on
    // every X server, and the painted edge smooths them where the mask is coarse.
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    setMask(QRegion(outline.toFillPolygon().toPolygon()));
}
