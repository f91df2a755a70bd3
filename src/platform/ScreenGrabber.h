#pragma once

#include <QImage>
#include <QRect>

#include <memory>
#include <vector>

// Reads the pixels of an area of the screen. `area` is in device-independent pixels of the
// global desktop, origin top-left. The image carries the screen's device pixel ratio, so its
// size in device-independent pixels is the area's size. A null image means nothing could be
// read; callers then try the next grabber.
class ScreenGrabber {
public:
    virtual ~ScreenGrabber() = default;
    virtual QImage grab(const QRect& area) = 0;

    // The grabbers to try in order: the screen through Qt, then the desktop's screenshot
    // portal (the only way on Wayland, and the rescue where the first yields nothing).
    static std::vector<std::unique_ptr<ScreenGrabber>> standardGrabbers();
};
