#include "platform/CursorStack.h"

#include <QCursor>
#include <QGuiApplication>

namespace CursorStack {

namespace {
int pushed = 0;
}

void push(Qt::CursorShape shape) {
    QGuiApplication::setOverrideCursor(QCursor(shape));
    ++pushed;
}

void pop() {
    if (pushed == 0)
        return;
    QGuiApplication::restoreOverrideCursor();
    --pushed;
}

int depth() {
    return pushed;
}

} // namespace CursorStack
