#pragma once

#include "platform/UserDefaults.h"

#include <QSettings>
#include <QTemporaryDir>

// The settings file of this test alone, in a temporary folder.
class TemporarySettings {
public:
    TemporarySettings() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
        UserDefaults::standard()->clear();
    }
    ~TemporarySettings() { UserDefaults::standard()->clear(); }
    QString path() const { return folder.path(); }
    void setAutoCopy(bool on) { UserDefaults::standard()->setValue(UserDefaults::autoCopyKey, on); }

private:
    QTemporaryDir folder;
};
