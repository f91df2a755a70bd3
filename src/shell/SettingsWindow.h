#pragma once

#include <QWidget>

// The window of the application's one setting.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    SettingsWindow();
};
