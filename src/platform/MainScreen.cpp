#include "platform/MainScreen.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QScreen* mainScreen() {
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    return QGuiApplication::primaryScreen();
}

void centerOnMainScreen(QWidget* window) {
    if (QScreen* screen = mainScreen()) {
        QRect centred(QPoint(), window->size());
        centred.moveCenter(screen->geometry().center());
        window->move(centred.topLeft());
    }
}
