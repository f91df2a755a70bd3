#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>

#include <functional>

class QIcon;
class QMenu;
class QSystemTrayIcon;

// The application's icon in the desktop's system tray: a left click runs the click handler,
// a right click opens the menu. Desktops with a StatusNotifier host show the menu themselves
// (Qt hands it to them over D-Bus and never opens it); the older XEmbed trays only report the
// click, and the menu is opened here, beside the icon rather than over it. Without any tray
// nothing shows and nothing fails.
class StatusItem : public QObject {
    Q_OBJECT
public:
    StatusItem(const QIcon& image, QMenu* menu, std::function<void()> leftClick);
    ~StatusItem() override;

    bool isVisible() const;
    // The icon's place on the screen, where the tray reports one.
    QRect geometry() const;

    // Where a menu of `menuSize` opens for an icon at `icon`: below it when it fits on the
    // screen, else above it, and never past the screen's sides.
    static QPoint menuPosition(const QRect& icon, const QSize& menuSize, const QRect& screen);

private:
    void activated(int reason);
    void openMenu();

    QSystemTrayIcon* trayIcon;
    QPointer<QMenu> menu;
    std::function<void()> leftClick;
    bool menuShownByHost = false;
};
