#include "shell/SettingsWindow.h"

#include <QVBoxLayout>

SettingsWindow::SettingsWindow() {
    setWindowTitle(QStringLiteral("Pixaloom Settings"));
    resize(400, 200);
    new QVBoxLayout(this);
}
