#include "platform/UserDefaults.h"

#include <QHash>
#include <QVariant>

namespace {

// Values written in this run that the file refused. The user's choice lasts for the run, as
// it would if the disk were only slow, instead of silently reverting.
QHash<QString, QVariant>& unsavedValues() {
    static QHash<QString, QVariant> values;
    return values;
}

} // namespace

std::unique_ptr<QSettings> UserDefaults::standard() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       organizationName, applicationName);
}

bool UserDefaults::boolForKey(const QString& key) {
    const QVariant value = unsavedValues().value(key, standard()->value(key));
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    // The file holds text, and QVariant takes any text but "", "0" and "false" for true. A
    // hand-edited value that is not plainly true reads as false, like an absent key.
    const QString text = value.toString().trimmed();
    return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
           text == QLatin1String("1");
}

bool UserDefaults::setBool(const QString& key, bool value) {
    auto settings = standard();
    settings->setValue(key, value);
    settings->sync();
    if (settings->status() == QSettings::NoError) {
        unsavedValues().remove(key);
        return true;
    }
    unsavedValues().insert(key, value);
    return false;
}

QString UserDefaults::fileName() {
    return standard()->fileName();
}
