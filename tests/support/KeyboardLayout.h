#pragma once

#include "ScreenTestTools.h"

// The X server's keyboard layout for as long as this lives; the one before comes back after.
// Every X client, the application under test among them, then reads keys by that layout.
class KeyboardLayout {
public:
    explicit KeyboardLayout(const QString& layout) {
        const QString settings =
            QString::fromUtf8(runTool(QStringLiteral("setxkbmap"), {"-query"}));
        for (const QString& line : settings.split('\n'))
            if (line.startsWith("layout:"))
                previous = line.mid(7).trimmed();
        runTool(QStringLiteral("setxkbmap"), {layout});
        // Clients reload their key maps when the server announces the new one.
        QTest::qWait(300);
    }
    ~KeyboardLayout() {
        runTool(QStringLiteral("setxkbmap"),
                {previous.isEmpty() ? QStringLiteral("us") : previous});
        QTest::qWait(300);
    }
    KeyboardLayout(const KeyboardLayout&) = delete;
    KeyboardLayout& operator=(const KeyboardLayout&) = delete;

private:
    QString previous;
};
