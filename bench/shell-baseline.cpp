// The least a Qt tray application can be: an application object, a three-item menu and a
// tray icon drawn in code, nothing else. Started and measured like Pixaloom, it shows how
// much of Pixaloom's start-up time and memory is Qt's, the X connection's and fontconfig's.
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QMenu menu;
    menu.addAction(QStringLiteral("Take Screenshot"));
    menu.addAction(QStringLiteral("Settings"));
    menu.addAction(QStringLiteral("Quit"), &app, &QCoreApplication::quit);

    QPixmap frame(18, 18);
    frame.fill(Qt::transparent);
    QPainter(&frame).fillRect(4, 4, 10, 10, QColor(255, 92, 0));
    QSystemTrayIcon tray{QIcon(frame)};
    QObject::connect(&tray, &QSystemTrayIcon::activated, &menu,
                     [&](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Context)
                             menu.popup(tray.geometry().bottomLeft());
                     });
    tray.show();
    return app.exec();
}
