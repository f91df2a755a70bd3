#pragma once

#include <QSettings>
#include <QString>

#include <memory>

// The user's preferences: one settings file for the whole application
// (~/.config/Pixaloom/Pixaloom.conf). Every reader and writer names the file here rather than
// through the QCoreApplication's names, so the editor and the settings window agree whichever
// program opened them and whatever it set up first.
class UserDefaults {
public:
    static inline const QString organizationName = QStringLiteral("Pixaloom");
    static inline const QString applicationName = QStringLiteral("Pixaloom");
    // Whether the editor copies each shown image to the clipboard by itself.
    static inline const QString autoCopyKey = QStringLiteral("PixaloomAutoCopy");

    // A fresh view of the file: it sees every write made in this process so far.
    static std::unique_ptr<QSettings> standard();
    // An absent key, or one holding anything but true, reads as false.
    static bool boolForKey(const QString& key);
    // Stores the value and writes the file at once. When the file cannot be written it returns
    // false, and the value still holds for readers in this process until it ends.
    static bool setBool(const QString& key, bool value);
    // Where the file is, for messages to the user.
    static QString fileName();
};
