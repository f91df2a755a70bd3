// Starting captures, opening the editor, and keeping track of the shell's own windows.
#include "shell/AppDelegate.h"

#include "shell/ScreenCaptureWindow.h"
#include "shell/SettingsWindow.h"

#include "editor/EditWindow.h"
#include "platform/MainMenu.h"
#include "platform/MainQueue.h"
#include "sdk/PostHogSDK.h"

#include <QApplication>
#include <QPointer>

namespace {

void makeKeyAndOrderFront(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace

void AppDelegate::takeScreenshot() {
    // The selection that the capture window is reading off the screen goes to the editor
    // first; this capture starts once that window has closed.
    if (captureWindow && captureWindow->isHandingOff()) {
        captureRequestedDuringHandOff = true;
        return;
    }
    isCapturingScreen = true;
    if (posthog)
        posthog->capture(QStringLiteral("screenshot_capture_started"));
    // Only the newest capture is tracked. One that is still open is taken off the screen
    // with it: it would otherwise stay over the desktop with nothing to close it but Escape.
    if (captureWindow) {
        captureWindow->hide();
        retire(captureWindow);
    }
    openCaptureWindow();
    activateIgnoringOtherApps();
}

void AppDelegate::openCaptureWindow() {
    captureWindow = makeCaptureWindow();
    captureWindow->setAppDelegate(this);
    // The overlay covers the whole screen, so it shows no menu bar; its keys still reach
    // the menu's items.
    captureWindow->addActions(MainMenu::allActions());
    makeKeyAndOrderFront(*captureWindow);
}

void AppDelegate::showEditWindow(const QImage& image, const QRectF& frame) {
    if (editWindow)
        editWindow->close();
    retire(editWindow);
    editWindow = std::make_unique<EditWindow>(image, frame);
    // Taking part in window cycling and the window list is every top-level window's lot here.
    makeKeyAndOrderFront(*editWindow);
    activateIgnoringOtherApps();
    MainMenu::update();
    hasOpenWindows = true;
    updateActivationPolicy();
}

void AppDelegate::handleWindowWillOpen(QWidget* window) {
    if (!isOwnWindow(window))
        return;
    lastKeyWindow = window;
    hasOpenWindows = true;
    updateActivationPolicy();
    activateIgnoringOtherApps();
    MainMenu::update();
}

void AppDelegate::handleWindowClosed(QWidget* window) {
    if (!window)
        return;
    MainQueue::async(this, [this, closed = QPointer<QWidget>(window)] {
        if (closed && closed == captureWindow.get()) {
            isCapturingScreen = false;
            retire(captureWindow);
        } else if (closed && closed == editWindow.get()) {
            retire(editWindow);
        } else if (closed && closed == settingsWindow.get()) {
            retire(settingsWindow);
        }
        if (captureRequestedDuringHandOff && !(captureWindow && captureWindow->isHandingOff())) {
            captureRequestedDuringHandOff = false;
            takeScreenshot();
        }
        hasOpenWindows = captureWindow || editWindow || settingsWindow;
        updateActivationPolicy();
    });
}

void AppDelegate::updateActivationPolicy() {
    // The application is a regular one from launch on, so there is no policy to restore.
    MainQueue::async(this, [this] {
        if (!hasOpenWindows)
            return;
        activateIgnoringOtherApps();
        MainMenu::update();
    });
}

void AppDelegate::activateIgnoringOtherApps() {
    // Activating an application that is active already changes nothing; otherwise the window
    // the user worked in last comes back with the keyboard focus.
    if (QApplication::activeWindow() || QApplication::activePopupWidget())
        return;
    if (QWidget* window = frontmostOwnWindow()) {
        window->raise();
        window->activateWindow();
    }
}

bool AppDelegate::isOwnWindow(const QWidget* window) const {
    return window && (window == captureWindow.get() || window == editWindow.get() ||
                      window == settingsWindow.get());
}

QWidget* AppDelegate::frontmostOwnWindow() const {
    if (captureWindow && captureWindow->isVisible())
        return captureWindow.get();
    if (lastKeyWindow && isOwnWindow(lastKeyWindow) && lastKeyWindow->isVisible())
        return lastKeyWindow;
    for (QWidget* window :
         {static_cast<QWidget*>(editWindow.get()), static_cast<QWidget*>(settingsWindow.get())})
        if (window && window->isVisible())
            return window;
    return nullptr;
}
