#pragma once

#include "platform/Logger.h"

#include <QWidget>

class QCheckBox;
class VisualEffectView;

// The window of the application's one setting: whether the editor copies every shown image
// to the clipboard by itself. It reads the setting once, when made, and writes it at every
// toggle. Closing hides it without deleting it; its owner decides its life.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    SettingsWindow();

    // The checkbox's action.
    void autoCopyToggled();

    VisualEffectView* containerView = nullptr;
    QCheckBox* autoCopyCheckbox = nullptr;

protected:
    void changeEvent(QEvent* event) override;

private:
    void setupUI();
    void windowDidBecomeKey();

    const Logger logger{QStringLiteral("com.app.pixaloom"), QStringLiteral("SettingsWindow")};
};
