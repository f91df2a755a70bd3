// The global shortcut Ctrl+Shift+2: a key monitor of the whole desktop and a system hot key.
#include "shell/AppDelegate.h"

#include "platform/GlobalKeyMonitor.h"
#include "platform/KeyIdentity.h"

#include <QPointer>

void AppDelegate::setupGlobalShortcut() {
    const QPointer<AppDelegate> weakDelegate(this);
    globalMonitor = GlobalKeyMonitor::addGlobalMonitorForKeyDown(
        [weakDelegate](const GlobalKeyMonitor::KeyPress& key) {
            const bool chord = key.modifiers.testFlag(Qt::ControlModifier) &&
                               key.modifiers.testFlag(Qt::ShiftModifier);
            if (chord && KeyIdentity::fromNativeScanCode(key.keycode) == PhysicalKey::digit2 &&
                weakDelegate)
                weakDelegate->takeScreenshot();
        });
}

void AppDelegate::registerGlobalShortcut() {
}

void AppDelegate::handleHotKeyEvent() {
}
