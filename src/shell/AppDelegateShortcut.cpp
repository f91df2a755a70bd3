// The global shortcut Ctrl+Shift+2: a key monitor of the whole desktop and a system hot key.
#include "shell/AppDelegate.h"

#include "shell/ScreenCaptureWindow.h"

#include "platform/GlobalKeyMonitor.h"
#include "platform/HotKey.h"
#include "platform/KeyIdentity.h"
#include "platform/Logger.h"
#include "platform/MainQueue.h"
#include "platform/SystemLog.h"

#include <QMessageLogger>
#include <QPointer>

namespace {

// The X11 keycode of the digit 2 in the main row.
constexpr quint32 digit2Keycode = 11;

} // namespace

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
    if (!globalMonitor->isWatching())
        systemLog(QStringLiteral("Ctrl+Shift+2 cannot be watched on this display: other "
                                 "applications' keys are not visible"));
}

void AppDelegate::registerGlobalShortcut() {
    const QPointer<AppDelegate> weakDelegate(this);
    HotKey::Registration registration = HotKey::registerEventHotKey(
        digit2Keycode, Qt::ControlModifier | Qt::ShiftModifier, [weakDelegate] {
            if (weakDelegate)
                weakDelegate->handleHotKeyEvent();
        });
    if (registration.status != 0) {
        const QString line = formatLogMessage("Failed to register hotkey: %{public}d",
                                              std::array{LogArgument(registration.status)});
        QMessageLogger().critical("%s", qUtf8Printable(line));
        return;
    }
    hotkeyRef = std::move(registration.hotKey);
    systemLog(QStringLiteral("Successfully registered global shortcut"));
}

void AppDelegate::handleHotKeyEvent() {
    MainQueue::async(this, [this] {
        // A capture window that has been closed but not yet forgotten cannot come back:
        // its cursor and keys are gone. One hidden for its screen grab is about to hand
        // its image on and is left alone.
        if (captureWindow && captureWindow->isClosed())
            retire(captureWindow);
        if (!captureWindow) {
            openCaptureWindow();
        } else if (captureWindow->isVisible()) {
            captureWindow->raise();
            captureWindow->activateWindow();
        }
    });
}
