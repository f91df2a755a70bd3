#include "editor/Popover.h"

#include "platform/Compositor.h"

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
    // A compositor blends the antialiased corners with what lies beneath; without one a
    // translucent window is opaque, so a mask cuts the corners instead.
    if (Compositor::isRunning())
        setAttribute(Qt::WA_TranslucentBackground);
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

void Popover::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit hidden();
}

void Popover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Under a mask the edge pixels it keeps blend with the background, not the window's grey.
    if (!testAttribute(Qt::WA_TranslucentBackground))
        painter.fillRect(rect(), background);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(border, 1));
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius,
                            cornerRadius);
}

void Popover::resizeEvent(QResizeEvent*) {
    if (testAttribute(Qt::WA_TranslucentBackground))
        return;
    // The mask is whole pixels; the painted edge smooths the corners where it is coarse.
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    setMask(QRegion(outline.toFillPolygon().toPolygon()));
}
