#pragma once

#include "platform/ScreenGrabber.h"

// Grabs through QScreen::grabWindow on the screen that holds the area's centre (on X11 this
// reads the root window of the X server).
class QtScreenGrabber : public ScreenGrabber {
public:
    QImage grab(const QRect& area) override;
};
