#include "platform/SystemLog.h"

#include <QMessageLogger>

void systemLog(const QString& message) {
    QMessageLogger().info("%s", qUtf8Printable(message));
}
