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
    const QScreen* screen = anchor->screen();
    move(placement(QRect(anchor->mapToGlobal(QPoint()), anchor->size()), size(),
                   screen ? screen->availableGeometry() : QRect()));
    show();
    raise();
    activateWindow();
}

QPoint Popover::placement(const QRect& anchor, const QSize& size, const QRect& available) {
    const int x = anchor.left() + anchor.width() / 2 - size.width() / 2;
    const int below = anchor.bottom() + 1 + gap;
    if (available.isEmpty()) // no screen to keep it on
        return QPoint(x, below);
    const int above = anchor.top() - gap - size.height();
    const int lowestTop = available.bottom() + 1 - size.height();
    int y = below;
    if (below > lowestTop)
        y = above >= available.top()
                ? above
                : std::clamp(below, available.top(), std::max(available.top(), lowestTop));
    return QPoint(std::clamp(x, available.left(),
                             std::max(available.left(), available.right() + 1 - size.width())),
                  y);
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
