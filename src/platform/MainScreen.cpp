#include "platform/MainScreen.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

QScreen* mainScreen() {
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    return QGuiApplication::primaryScreen();
}
