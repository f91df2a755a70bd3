#include "platform/StatusItem.h"

#include <QDBusConnection>
#include <QCursor>
#include <QDBusInterface>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>

#include <algorithm>

namespace {

// The same test Qt makes when it chooses between a StatusNotifier item and an XEmbed icon.
bool statusNotifierHostRegistered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusInterface watcher(QStringLiteral("org.kde.StatusNotifierWatcher"),
                           QStringLiteral("/StatusNotifierWatcher"),
                           QStringLiteral("org.kde.StatusNotifierWatcher"), bus);
    return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
}

} // namespace

StatusItem::StatusItem(const QIcon& image, QMenu* menu, std::function<void()> leftClick)
    : trayIcon(new QSystemTrayIcon(image, this))
    , menu(menu)
    , leftClick(std::move(leftClick)) {
    menuShownByHost = statusNotifierHostRegistered();
    if (menuShownByHost)
        trayIcon->setContextMenu(menu);
    connect(trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
    trayIcon->show();
}

StatusItem::~StatusItem() = default;

bool StatusItem::isVisible() const {
    return trayIcon->isVisible();
}

QRect StatusItem::geometry() const {
    return trayIcon->geometry();
}

void StatusItem::activated(int reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        if (leftClick)
            leftClick();
        break;
    case QSystemTrayIcon::Context:
        if (!menuShownByHost)
            openMenu();
        break;
    default:
        break;
    }
}

void StatusItem::openMenu() {
    if (!menu)
        return;
    const QRect icon = trayIcon->geometry();
    QScreen* screen = icon.isValid() ? QGuiApplication::screenAt(icon.center()) : nullptr;
    if (!screen) {
        menu->popup(QCursor::pos());
        return;
    }
    menu->popup(menuPosition(icon, menu->sizeHint(), screen->geometry()));
}

QPoint StatusItem::menuPosition(const QRect& icon, const QSize& menuSize, const QRect& screen) {
    const bool fitsBelow = icon.bottom() + 1 + menuSize.height() <= screen.bottom() + 1;
    const int y = fitsBelow ? icon.bottom() + 1 : icon.top() - menuSize.height();
    const int rightmost = std::max(screen.left(), screen.right() + 1 - menuSize.width());
    const int x = std::clamp(icon.left(), screen.left(), rightmost);
    return {x, std::max(y, screen.top())};
}
