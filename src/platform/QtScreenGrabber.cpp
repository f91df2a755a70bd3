#include "platform/QtScreenGrabber.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

using ImageReply = std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)>;

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

// Reads the area of the root window straight into an image that keeps the X reply as its
// pixels: a 4K screen is 33 MB, and Qt's own grab copies it twice more on the way.
QImage grabRootArea(xcb_connection_t* connection, const QRect& area) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_screen_t* screen = defaultScreen(setup);
    if (!screen || !rootIsRgb32(setup, screen))
        return {};
    // Reading past the root window's edge is an error; such areas take Qt's way.
    if (!QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels).contains(area))
        return {};
    ImageReply reply(xcb_get_image_reply(connection,
                                         xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                                       screen->root, static_cast<int16_t>(area.x()),
                                                       static_cast<int16_t>(area.y()),
                                                       static_cast<uint16_t>(area.width()),
                                                       static_cast<uint16_t>(area.height()), ~0u),
                                         nullptr),
                     &std::free);
    const qsizetype bytesPerLine = qsizetype(area.width()) * 4;
    if (!reply || reply->depth != 24 ||
        xcb_get_image_data_length(reply.get()) < bytesPerLine * area.height())
        return {};
    uchar* pixels = xcb_get_image_data(reply.get());
    // The X server leaves the fourth byte undefined; an RGB32 image holds 0xff there, and
    // painting copies it as it is onto windows with alpha.
    auto* words = reinterpret_cast<quint32*>(pixels);
    const qsizetype count = qsizetype(area.width()) * area.height();
    for (qsizetype i = 0; i < count; ++i)
        words[i] |= 0xff000000u;
    return QImage(pixels, area.width(), area.height(), bytesPerLine, QImage::Format_RGB32,
                  &std::free, reply.release());
}

} // namespace

QImage QtScreenGrabber::grab(const QRect& area) {
    if (area.isEmpty())
        return {};
    QScreen* screen = QGuiApplication::screenAt(area.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    // On X with every screen at a device pixel ratio of 1 the desktop's coordinates are the
    // root window's.
    const QList<QScreen*> screens = QGuiApplication::screens();
    const bool unscaled = std::ranges::all_of(
        screens, [](const QScreen* each) { return each->devicePixelRatio() == 1.0; });
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 && x11->connection() && unscaled) {
        QImage image = grabRootArea(x11->connection(), area);
        if (!image.isNull())
            return image;
    }
    // grabWindow(0, ...) takes coordinates relative to the screen it is called on.
    const QPoint local = area.topLeft() - screen->geometry().topLeft();
    const QPixmap pixmap = screen->grabWindow(0, local.x(), local.y(), area.width(), area.height());
    return pixmap.toImage();
}
