#include "platform/MainScreen.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

QScreen* mainScreen() {
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    return QGuiApplication::primaryScreen();
}

void centerOnMainScreen(QWidget* window) {
    if (QScreen* screen = mainScreen()) {
        QRect placed(QPoint(), window->size());
        placed.moveCenter(screen->geometry().center());
        // Centred on the whole screen, then moved inside the part that panels leave free.
        const QRect available = screen->availableGeometry();
        placed.moveLeft(
            std::clamp(placed.left(), available.left(),
                       std::max(available.left(), available.right() - placed.width() + 1)));
        placed.moveTop(
            std::clamp(placed.top(), available.top(),
                       std::max(available.top(), available.bottom() - placed.height() + 1)));
        window->move(placed.topLeft());
    }
}
