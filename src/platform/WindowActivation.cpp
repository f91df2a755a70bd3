#include "platform/WindowActivation.h"

#include "platform/MainQueue.h"

#include <QWidget>

namespace {

std::function<void()>& mainMenuUpdate() {
    static std::function<void()> update;
    return update;
}

} // namespace

namespace WindowActivation {

void setMainMenuUpdate(std::function<void()> update) {
    mainMenuUpdate() = std::move(update);
}

void activateAndUpdateMainMenu(QWidget* window) {
    MainQueue::async(window, [window] {
        window->raise();
        window->activateWindow();
        if (mainMenuUpdate())
            mainMenuUpdate()();
    });
}

} // namespace WindowActivation
