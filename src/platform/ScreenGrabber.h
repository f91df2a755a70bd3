#pragma once

#include <QImage>
#include <QRect>
#include <QRectF>

#include <functional>
#include <memory>
#include <vector>

// Reads the pixels of an area of the screen. `area` is in device-independent pixels of the
// global desktop, origin top-left. The image carries the screen's device pixel ratio, so its
// size in device-independent pixels is the area's size; its device pixels are the area's
// `onPixelGrid`. A null image means nothing could be read; callers then try the next grabber.
class ScreenGrabber {
public:
    // Told of rows of the image being read as soon as they are in, so that work on them can
    // begin while the rest is read: possibly on several threads at once, each with rows of
    // its own. Only the rows named are read yet.
    using RowsRead = std::function<void(const QImage& image, int firstRow, int rowCount)>;

    virtual ~ScreenGrabber() = default;
    virtual QImage grab(const QRect& area) = 0;
    // The same, telling `rowsRead` of every row of the image before it returns; rows of an
    // attempt that failed may have been told of too. Unless a grabber reads in parts, all rows
    // come at once at the end.
    virtual QImage grabAsRead(const QRect& area, const RowsRead& rowsRead);

    // The grabbers to try in order: the screen through Qt, then the desktop's screenshot
    // portal (the only way on Wayland, and the rescue where the first yields nothing).
    static std::vector<std::unique_ptr<ScreenGrabber>> standardGrabbers();

    // The device pixels of an area at `ratio` device pixels per device-independent pixel:
    // corner and size each rounded to the nearest, as Qt maps coordinates onto a screen, so
    // an area of whole device pixels keeps its size wherever it lies.
    static QRect onPixelGrid(const QRectF& area, qreal ratio);

protected:
    // Tells `rowsRead` of all rows of an image read in one piece.
    static QImage tellingAllRows(QImage image, const RowsRead& rowsRead);
};
