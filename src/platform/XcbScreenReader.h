#pragma once

#include "platform/ScreenGrabber.h"

#include <QImage>
#include <QRect>

struct xcb_connection_t;

// Reads an area of the X screen's root window as an opaque RGB32 image, where the root's
// pixels are 32-bit words in this machine's byte order.
//
// The area is read in strips through a small segment of memory shared with the X server, by
// several threads at once, each copying its strips into the image as they arrive. One request
// for a whole 4K screen makes the X server queue a 33 MB reply, which it shifts along its
// output buffer after every partial write while this process reads; strips never queue, and
// the image's fresh pages are brought in by all the threads together. Without the shared
// memory extension (a remote display, say) the area is read with one request.
class XcbScreenReader {
public:
    // A quarter of a megabyte per strip: the requests' own cost stays small, and so does the
    // shared segment.
    static constexpr qsizetype defaultStripBytes = 256 * 1024;

    explicit XcbScreenReader(xcb_connection_t* connection,
                             qsizetype stripBytes = defaultStripBytes);

    // The area in the root window's coordinates. Null when the root's pixels have another
    // layout, when the area reaches past the root's edge, or when the X server refuses.
    // `rowsRead`, if given, is told of each strip as soon as it is in the image, on the thread
    // that copied it.
    QImage read(const QRect& area, const ScreenGrabber::RowsRead& rowsRead = {});

    // Whether the last read went through the shared memory.
    bool readThroughSharedMemory() const { return sharedMemoryUsed; }

private:
    QImage readInStrips(unsigned root, const QRect& area, const ScreenGrabber::RowsRead& rowsRead);
    QImage readWithOneRequest(unsigned root, const QRect& area,
                              const ScreenGrabber::RowsRead& rowsRead);

    xcb_connection_t* connection;
    qsizetype stripBytes;
    bool sharedMemoryUsed = false;
};
