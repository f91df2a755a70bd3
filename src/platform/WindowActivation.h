#pragma once

#include <functional>

class QWidget;

// What each of our windows does when it becomes the active window: it comes to the front and
// the main menu revalidates its items for it. The menu belongs to the application shell, a
// layer above the windows, so the shell hands in how to update it.
namespace WindowActivation {
// Set by the application shell; until then an activation updates no menu.
void setMainMenuUpdate(std::function<void()> update);
// On the next main-queue turn, skipped when the window is gone by then: raises and activates
// the window, then asks the main menu to update.
void activateAndUpdateMainMenu(QWidget* window);
} // namespace WindowActivation
