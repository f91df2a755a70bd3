#pragma once

// Whether the X display that Qt's xcb platform is about to open can be opened. Qt treats a
// display it cannot open as a platform plugin that failed to load: it blames the installation
// and aborts. Asked first, the application can say what is wrong and end normally.
class DisplayConnection {
public:
    // False, with one error line naming the display, when Qt will use xcb for these
    // arguments and this environment and the display cannot be opened. Call it before the
    // application object exists; other platforms are left to Qt.
    static bool isAvailable(int argc, char** argv);
};
