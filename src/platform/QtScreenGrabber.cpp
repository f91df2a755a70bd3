#include "platform/QtScreenGrabber.h"

#include "platform/XcbScreenReader.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>

QImage QtScreenGrabber::grab(const QRect& area) {
    return grabAsRead(area, {});
}

QImage QtScreenGrabber::grabAsRead(const QRect& area, const RowsRead& rowsRead) {
    if (area.isEmpty())
        return {};
    QScreen* screen = QGuiApplication::screenAt(area.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    // On X with every screen at a device pixel ratio of 1 the desktop's coordinates are the
    // root window's.
    const QList<QScreen*> screens = QGuiApplication::screens();
    const bool unscaled = std::ranges::all_of(
        screens, [](const QScreen* each) { return each->devicePixelRatio() == 1.0; });
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 && x11->connection() && unscaled) {
        QImage image = XcbScreenReader(x11->connection()).read(area, rowsRead);
        if (!image.isNull())
            return image;
    }
    // grabWindow(0, ...) takes coordinates relative to the screen it is called on.
    const QPoint local = area.topLeft() - screen->geometry().topLeft();
    const QPixmap pixmap = screen->grabWindow(0, local.x(), local.y(), area.width(), area.height());
    return tellingAllRows(pixmap.toImage(), rowsRead);
}
