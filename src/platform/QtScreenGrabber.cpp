#include "platform/QtScreenGrabber.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

QImage QtScreenGrabber::grab(const QRect& area) {
    if (area.isEmpty())
        return {};
    QScreen* screen = QGuiApplication::screenAt(area.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    // grabWindow(0, ...) takes coordinates relative to the screen it is called on.
    const QPoint local = area.topLeft() - screen->geometry().topLeft();
    const QPixmap pixmap = screen->grabWindow(0, local.x(), local.y(), area.width(), area.height());
    return pixmap.toImage();
}
