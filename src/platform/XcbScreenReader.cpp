#include "platform/XcbScreenReader.h"

#include "platform/WorkerThreads.h"

#include <QSysInfo>

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

namespace {

template <typename Reply> auto owned(Reply* reply) {
    return std::unique_ptr<Reply, decltype(&std::free)>(reply, &std::free);
}

// The X screen the display name picks, whose root window Qt's screens lie on.
const xcb_screen_t* defaultScreen(const xcb_setup_t* setup) {
    char* host = nullptr;
    int display = 0;
    int number = 0;
    if (xcb_parse_display(nullptr, &host, &display, &number) == 0)
        number = 0;
    std::free(host);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (; screens.rem && number > 0; --number)
        xcb_screen_next(&screens);
    return screens.rem ? screens.data : nullptr;
}

// Whether the root window's pixels arrive as 32-bit words in this machine's byte order, the
// layout of QImage::Format_RGB32.
bool rootIsRgb32(const xcb_setup_t* setup, const xcb_screen_t* screen) {
    if (screen->root_depth != 24 || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST ||
        QSysInfo::ByteOrder != QSysInfo::LittleEndian)
        return false;
    xcb_format_iterator_t format = xcb_setup_pixmap_formats_iterator(setup);
    for (; format.rem; xcb_format_next(&format)) {
        if (format.data->depth == 24)
            return format.data->bits_per_pixel == 32;
    }
    return false;
}

// The X server leaves the fourth byte undefined; an RGB32 image holds 0xff there, and
// painting copies it as it is onto windows with alpha.
void copyOpaque(const uchar* from, uchar* to, qsizetype pixels) {
    const auto* source = reinterpret_cast<const quint32*>(from);
    auto* target = reinterpret_cast<quint32*>(to);
    for (qsizetype i = 0; i < pixels; ++i)
        target[i] = source[i] | 0xff000000u;
}

bool canCreateSharedSegments(xcb_connection_t* connection) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_shm_id);
    if (!extension || !extension->present)
        return false;
    auto version =
        owned(xcb_shm_query_version_reply(connection, xcb_shm_query_version(connection), nullptr));
    // Segments made by the server and passed as a file descriptor came with version 1.2.
    return version && (version->major_version > 1 ||
                       (version->major_version == 1 && version->minor_version >= 2));
}

// A segment of memory the X server makes and both sides map, for the server to write into.
class SharedSegment {
public:
    SharedSegment(xcb_connection_t* connection, qsizetype size)
        : connection(connection)
        , size(size) {
        const xcb_shm_seg_t id = xcb_generate_id(connection);
        auto reply = owned(xcb_shm_create_segment_reply(
            connection, xcb_shm_create_segment(connection, id, uint32_t(size), 0), nullptr));
        if (!reply)
            return;
        segment = id;
        int* descriptors = xcb_shm_create_segment_reply_fds(connection, reply.get());
        if (reply->nfd == 1) {
            void* mapped = mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED, descriptors[0], 0);
            if (mapped != MAP_FAILED)
                memory = static_cast<const uchar*>(mapped);
        }
        for (int index = 0; index < reply->nfd; ++index)
            close(descriptors[index]);
    }
    // Requests still out when a read failed come before the detach on the same connection:
    // the server never writes into a segment it has let go of.
    ~SharedSegment() {
        if (segment)
            xcb_shm_detach(connection, segment);
        if (memory)
            munmap(const_cast<uchar*>(memory), size_t(size));
        xcb_flush(connection);
    }
    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;

    xcb_shm_seg_t id() const { return segment; }
    const uchar* data() const { return memory; }

private:
    xcb_connection_t* connection;
    qsizetype size;
    xcb_shm_seg_t segment = 0;
    const uchar* memory = nullptr;
};

// How the area is cut: strips of whole rows, taken in runs (bands) by the threads, each
// thread with slots of its own in the segment so that the X server fills one slot of a
// thread while that thread copies out another.
struct Strips {
    static constexpr int slotsPerBand = 2;

    Strips(const QRect& area, qsizetype stripBytes)
        : bytesPerRow(qsizetype(area.width()) * 4)
        , rowsPerStrip(int(std::clamp<qsizetype>(stripBytes / bytesPerRow, 1, area.height())))
        , count((area.height() + rowsPerStrip - 1) / rowsPerStrip)
        , bands(std::clamp(WorkerThreads::count(), 1, count))
        , height(area.height()) {}

    int top(int strip) const { return strip * rowsPerStrip; }
    int rows(int strip) const { return std::min(rowsPerStrip, height - top(strip)); }
    int firstOfBand(int band) const { return count * band / bands; }
    qsizetype slotOffset(int band, int strip) const {
        const int slot = (strip - firstOfBand(band)) % slotsPerBand;
        return (qsizetype(band) * slotsPerBand + slot) * slotBytes();
    }
    qsizetype slotBytes() const { return bytesPerRow * rowsPerStrip; }
    qsizetype segmentBytes() const { return slotBytes() * slotsPerBand * bands; }

    qsizetype bytesPerRow;
    int rowsPerStrip;
    int count;
    int bands;
    int height;
};

} // namespace

XcbScreenReader::XcbScreenReader(xcb_connection_t* connection, qsizetype stripBytes)
    : connection(connection)
    , stripBytes(stripBytes) {
}

QImage XcbScreenReader::read(const QRect& area, const ScreenGrabber::RowsRead& rowsRead) {
    sharedMemoryUsed = false;
    if (!connection || area.isEmpty())
        return {};
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_screen_t* screen = defaultScreen(setup);
    if (!screen || !rootIsRgb32(setup, screen))
        return {};
    // Reading past the root window's edge is an error.
    if (!QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels).contains(area))
        return {};
    if (canCreateSharedSegments(connection)) {
        QImage image = readInStrips(screen->root, area, rowsRead);
        if (!image.isNull()) {
            sharedMemoryUsed = true;
            return image;
        }
    }
    return readWithOneRequest(screen->root, area, rowsRead);
}

QImage XcbScreenReader::readInStrips(unsigned root, const QRect& area,
                                     const ScreenGrabber::RowsRead& rowsRead) {
    const Strips strips(area, stripBytes);
    SharedSegment segment(connection, strips.segmentBytes());
    if (!segment.data())
        return {};
    QImage image(area.size(), QImage::Format_RGB32);
    if (image.isNull() || image.bytesPerLine() != strips.bytesPerRow)
        return {};
    // Taken once here: the threads write rows of their own, and asking the image for its
    // pixels on several threads at once would race on its bookkeeping.
    uchar* pixels = image.bits();

    std::atomic<bool> failed = false;
    const auto ask = [&](int band, int strip) {
        return xcb_shm_get_image(connection, root, int16_t(area.x()),
                                 int16_t(area.y() + strips.top(strip)), uint16_t(area.width()),
                                 uint16_t(strips.rows(strip)), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                 segment.id(), uint32_t(strips.slotOffset(band, strip)));
    };
    const auto readBand = [&](int band) {
        const int end = strips.firstOfBand(band + 1);
        std::deque<xcb_shm_get_image_cookie_t> asked;
        int next = strips.firstOfBand(band);
        for (int strip = next; strip < end; ++strip) {
            // The next strip goes into the slot copied out last.
            for (; next < end && next - strip < Strips::slotsPerBand; ++next)
                asked.push_back(ask(band, next));
            xcb_flush(connection);
            auto reply = owned(xcb_shm_get_image_reply(connection, asked.front(), nullptr));
            asked.pop_front();
            const qsizetype bytes = strips.bytesPerRow * strips.rows(strip);
            if (!reply || reply->depth != 24 || reply->size < bytes || failed) {
                failed = true;
                for (const auto& cookie : asked)
                    xcb_discard_reply(connection, cookie.sequence);
                return;
            }
            copyOpaque(segment.data() + strips.slotOffset(band, strip),
                       pixels + strips.top(strip) * strips.bytesPerRow, bytes / 4);
            if (rowsRead)
                rowsRead(image, strips.top(strip), strips.rows(strip));
        }
    };
    WorkerThreads::runEach(strips.bands, readBand);
    if (failed)
        return {};
    return image;
}

QImage XcbScreenReader::readWithOneRequest(unsigned root, const QRect& area,
                                           const ScreenGrabber::RowsRead& rowsRead) {
    auto reply = owned(xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(area.x()),
                      int16_t(area.y()), uint16_t(area.width()), uint16_t(area.height()), ~0u),
        nullptr));
    const qsizetype bytesPerRow = qsizetype(area.width()) * 4;
    if (!reply || reply->depth != 24 ||
        xcb_get_image_data_length(reply.get()) < bytesPerRow * area.height())
        return {};
    // The image keeps the reply as its pixels: a copy would cost the area's size again.
    uchar* pixels = xcb_get_image_data(reply.get());
    copyOpaque(pixels, pixels, qsizetype(area.width()) * area.height());
    QImage image(pixels, area.width(), area.height(), bytesPerRow, QImage::Format_RGB32, &std::free,
                 reply.release());
    if (rowsRead)
        rowsRead(image, 0, image.height());
    return image;
}
