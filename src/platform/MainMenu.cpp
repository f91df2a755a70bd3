#include "platform/MainMenu.h"

#include <QMenu>
#include <QMenuBar>
#include <QPointer>

namespace {

QList<QPointer<QMenu>>& installedMenus() {
    static QList<QPointer<QMenu>> menus;
    return menus;
}

std::function<void()>& updateHandler() {
    static std::function<void()> handler;
    return handler;
}

void collectActions(const QMenu& menu, QList<QAction*>& into) {
    for (QAction* action : menu.actions()) {
        if (action->isSeparator())
            continue;
        if (QMenu* submenu = action->menu())
            collectActions(*submenu, into);
        else
            into.append(action);
    }
}

} // namespace

namespace MainMenu {

void setMenus(QList<QMenu*> menus) {
    installedMenus().clear();
    for (QMenu* menu : menus)
        installedMenus().append(menu);
}

QMenuBar* menuBarFor(QWidget* window) {
    if (installedMenus().isEmpty())
        return nullptr;
    auto* bar = new QMenuBar(window);
    // A window with a dark background of its own (the editor's) gets light menu titles.
    if (window->palette().color(QPalette::Window).lightness() < 128) {
        QPalette light = bar->palette();
        for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            light.setColor(role, QColor(235, 235, 235));
        bar->setPalette(light);
    }
    for (const QPointer<QMenu>& menu : installedMenus())
        if (menu)
            bar->addMenu(menu);
    return bar;
}

QList<QAction*> allActions() {
    QList<QAction*> actions;
    for (const QPointer<QMenu>& menu : installedMenus())
        if (menu)
            collectActions(*menu, actions);
    return actions;
}

void update() {
    if (updateHandler())
        updateHandler()();
}

void setUpdateHandler(std::function<void()> handler) {
    updateHandler() = std::move(handler);
}

} // namespace MainMenu
