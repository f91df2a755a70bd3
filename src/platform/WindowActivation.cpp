#include "platform/WindowActivation.h"

#include "platform/MainMenu.h"
#include "platform/MainQueue.h"

#include <QWidget>

namespace WindowActivation {

void activateAndUpdateMainMenu(QWidget* window) {
    MainQueue::async(window, [window] {
        window->raise();
        window->activateWindow();
        MainMenu::update();
    });
}

} // namespace WindowActivation
