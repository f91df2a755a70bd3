#include "platform/ApplicationKeyMonitor.h"

#include <QCoreApplication>
#include <QKeyEvent>

std::unique_ptr<ApplicationKeyMonitor>
ApplicationKeyMonitor::addLocalMonitorForKeyDown(Handler handler, Claim claims) {
    return std::unique_ptr<ApplicationKeyMonitor>(
        new ApplicationKeyMonitor(std::move(handler), std::move(claims)));
}

ApplicationKeyMonitor::ApplicationKeyMonitor(Handler handler, Claim claims)
    : handler(std::move(handler))
    , claims(std::move(claims)) {
    if (auto* application = QCoreApplication::instance())
        application->installEventFilter(this);
}

ApplicationKeyMonitor::~ApplicationKeyMonitor() {
    if (auto* application = QCoreApplication::instance())
        application->removeEventFilter(this);
}

bool ApplicationKeyMonitor::eventFilter(QObject* watched, QEvent* event) {
    // An accepted override keeps the press from the shortcuts: it is delivered as a key press,
    // which this monitor then sees.
    if (event->type() == QEvent::ShortcutOverride && claims &&
        claims(static_cast<const QKeyEvent&>(*event))) {
        event->accept();
        return true;
    }
    if (event->type() != QEvent::KeyPress || !handler)
        return QObject::eventFilter(watched, event);
    // Key events travel up the widget tree and meet application filters once per widget;
    // a consumed event stops at once, a passed one is offered again unchanged.
    // The handler may remove this monitor (Escape closing its window), so it runs from a copy
    // that outlives this object; Qt copes with a filter deleted during its own call as long as
    // the event is consumed.
    const Handler running = handler;
    return running(static_cast<QKeyEvent&>(*event));
}
