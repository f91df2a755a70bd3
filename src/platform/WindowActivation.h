#pragma once

class QWidget;

// What each of our windows does when it becomes the active window: it comes to the front and
// the main menu checks its items against it (MainMenu::update()).
namespace WindowActivation {
// On the next main-queue turn, skipped when the window is gone by then: raises and activates
// the window, then updates the main menu.
void activateAndUpdateMainMenu(QWidget* window);
} // namespace WindowActivation
