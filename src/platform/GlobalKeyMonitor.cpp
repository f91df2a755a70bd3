#include "platform/GlobalKeyMonitor.h"

#include "platform/NullGlobalKeyMonitor.h"
#include "platform/XInputGlobalKeyMonitor.h"

#include <QGuiApplication>

std::unique_ptr<GlobalKeyMonitor> GlobalKeyMonitor::addGlobalMonitorForKeyDown(Handler handler) {
    std::unique_ptr<GlobalKeyMonitor> monitor;
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        monitor = XInputGlobalKeyMonitor::create();
    if (!monitor)
        monitor = std::make_unique<NullGlobalKeyMonitor>();
    monitor->handler = std::move(handler);
    return monitor;
}

void GlobalKeyMonitor::report(const KeyPress& key) const {
    // Keys typed into our own windows go to the application's key handling, not here.
    if (QGuiApplication::focusWindow() || !handler)
        return;
    handler(key);
}
