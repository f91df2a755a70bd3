#include "platform/UserDefaults.h"

std::unique_ptr<QSettings> UserDefaults::standard() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       organizationName, applicationName);
}

bool UserDefaults::boolForKey(const QString& key) {
    return standard()->value(key, false).toBool();
}
