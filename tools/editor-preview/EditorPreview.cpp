// Usage: editor-preview <image file>
// Opens an editor window on the image; edits go to the edit server of the build's
// configuration (PIXALOOM_SERVER_URL). The program ends when the window closes.
#include "editor/EditWindow.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QImageReader>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(UserDefaults::applicationName);
    QApplication::setOrganizationName(UserDefaults::organizationName);
    if (argc != 2) {
        systemLog(QStringLiteral("Usage: editor-preview <image file>"));
        return 2;
    }
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    const QImage image = reader.read();
    if (image.isNull()) {
        systemLog(QStringLiteral("Cannot read %1: %2")
                      .arg(QString::fromLocal8Bit(argv[1]), reader.errorString()));
        return 1;
    }
    EditWindow window(image, QRectF(QPointF(), image.deviceIndependentSize()));
    QObject::connect(&window, &EditWindow::windowWillClose, &application, &QApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    window.activateWindow();
    return application.exec();
}
