#pragma once

#include <QList>

#include <functional>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

// The application's main menu. The shell builds its menus once; every window of the
// application shows them in a menu bar of its own, made from the same actions, so each
// shortcut belongs to one action and fires once in whichever window is active.
namespace MainMenu {
// The menus in their order; a window made before they are set gets no menu bar.
void setMenus(QList<QMenu*> menus);
// A menu bar of the application's menus, a child of `window`; null when there are none.
QMenuBar* menuBarFor(QWidget* window);
// Every action of the menus and their submenus, for a window that shows no menu bar but
// whose keys should still reach them.
QList<QAction*> allActions();

// Asks the menus to check their items against the active window again.
void update();
void setUpdateHandler(std::function<void()> handler);
} // namespace MainMenu
