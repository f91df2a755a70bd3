#include "platform/WindowNotificationCenter.h"

#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>

WindowNotificationCenter::WindowNotificationCenter(Handler didBecomeKey, Handler willClose)
    : didBecomeKey(std::move(didBecomeKey))
    , willClose(std::move(willClose)) {
    if (auto* application = QCoreApplication::instance())
        application->installEventFilter(this);
}

WindowNotificationCenter::~WindowNotificationCenter() {
    if (auto* application = QCoreApplication::instance())
        application->removeEventFilter(this);
}

bool WindowNotificationCenter::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::WindowActivate && type != QEvent::Close && type != QEvent::Hide)
        return QObject::eventFilter(watched, event);
    auto* window = qobject_cast<QWidget*>(watched);
    if (!window || !window->isWindow())
        return QObject::eventFilter(watched, event);

    if (type == QEvent::WindowActivate && didBecomeKey)
        didBecomeKey(window);
    else if (type == QEvent::Close)
        closeRequested(window);
    else if (type == QEvent::Hide)
        confirmClose(window);
    return QObject::eventFilter(watched, event);
}

void WindowNotificationCenter::closeRequested(QWidget* window) {
    if (std::ranges::find(closing, QPointer<QWidget>(window)) == closing.end())
        closing.emplace_back(window);
    // The close request may be refused, or the window may already be hidden: decide once the
    // request has been handled.
    MainQueue::async(this, [this, guarded = QPointer<QWidget>(window)] {
        if (guarded && !guarded->isVisible())
            confirmClose(guarded);
        std::erase(closing, guarded);
    });
}

void WindowNotificationCenter::confirmClose(QWidget* window) {
    const auto pending = std::ranges::find(closing, QPointer<QWidget>(window));
    if (pending == closing.end())
        return;
    closing.erase(pending);
    if (willClose)
        willClose(window);
}
