#pragma once

#include "platform/ScreenGrabber.h"

// Grabs the screen that holds the area's centre: on X at a device pixel ratio of 1 by reading
// the root window directly, elsewhere through QScreen::grabWindow.
class QtScreenGrabber : public ScreenGrabber {
public:
    QImage grab(const QRect& area) override;
    // On X the rows are told of strip by strip as they are read, on several threads.
    QImage grabAsRead(const QRect& area, const RowsRead& rowsRead) override;
};
