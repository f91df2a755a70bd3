#pragma once

// Tools for the tests under a real X server: xdotool run beside the event loop, and a
// window of known colours.

#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <sys/uio.h>

#include <cstdlib>

inline constexpr int screenTestTimeoutMs = 10000;

// A command line tool run to its end: its standard output, and whether it started and then
// ended with status 0 in time.
struct ToolRun {
    QByteArray output;
    bool started = false;
    bool succeeded = false;
};

// Runs a command line tool to its end while this process keeps handling its events (an X
// client such as xclip may wait for this process to answer). For tools whose failure is an
// answer (a search that finds nothing, an empty clipboard).
inline ToolRun runToolToItsEnd(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted())
        return {};
    const bool finished = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; },
                                          screenTestTimeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    return {process.readAllStandardOutput(), true, finished && process.exitCode() == 0};
}

// The same for a tool that must succeed; returns its standard output.
inline QByteArray runTool(const QString& program, const QStringList& arguments) {
    const ToolRun run = runToolToItsEnd(program, arguments);
    EXPECT_TRUE(run.started) << program.toStdString() << " is not installed";
    EXPECT_TRUE(run.succeeded) << program.toStdString() << " " << arguments.join(' ').toStdString()
                               << " failed";
    return run.output;
}

inline QString runXdotool(const QStringList& arguments) {
    return QString::fromUtf8(runTool(QStringLiteral("xdotool"), arguments)).trimmed();
}

// Where the X server has the pointer, in device pixels.
inline QPoint pointerPosition() {
    QPoint at;
    for (const QString& line : runXdotool({"getmouselocation", "--shell"}).split('\n')) {
        if (line.startsWith("X="))
            at.setX(line.mid(2).toInt());
        else if (line.startsWith("Y="))
            at.setY(line.mid(2).toInt());
    }
    return at;
}

// `xdotool mousemove --sync` waits for the pointer to move, so it never returns when the
// pointer is at the target already (as a previous test may have left it): the pointer is
// first put one pixel aside.
inline void avoidSyncMoveToTheSamePlace(const QStringList& arguments) {
    const qsizetype move = arguments.indexOf(QStringLiteral("mousemove"));
    if (move < 0 || move + 3 >= arguments.size() || arguments[move + 1] != "--sync")
        return;
    const QPoint target(arguments[move + 2].toInt(), arguments[move + 3].toInt());
    if (pointerPosition() != target)
        return;
    const QPoint aside = target + QPoint(target.x() > 0 ? -1 : 1, 0);
    runXdotool({"mousemove", QString::number(aside.x()), QString::number(aside.y())});
    EXPECT_TRUE(QTest::qWaitFor([&] { return pointerPosition() == aside; }, screenTestTimeoutMs));
}

inline QString xdotool(const QStringList& arguments) {
    avoidSyncMoveToTheSamePlace(arguments);
    return runXdotool(arguments);
}

// The middle of a widget on the desktop (device-independent pixels).
inline QPoint centreOf(const QWidget* widget) {
    return widget->mapToGlobal(widget->rect().center());
}

// What the screen shows of a widget's area now, whichever window that is; `inset` leaves
// out rounded corners.
inline QImage onScreen(const QWidget* widget, int inset = 0) {
    const QRect area =
        QRect(widget->mapToGlobal(QPoint()), widget->size()).adjusted(inset, inset, -inset, -inset);
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage();
}

// Moves the pointer to a point of the desktop (device-independent pixels) and clicks there.
inline void clickAt(QPoint global) {
    xdotool({"mousemove", "--sync", QString::number(global.x()), QString::number(global.y()),
             "click", "1"});
}

// The window that has the X keyboard focus.
inline WId focusedWindow() {
    return runXdotool({"getwindowfocus", "-f"}).toULongLong();
}

// Four quadrants of known colours at an exact place.
class KnownColours : public QWidget {
public:
    static constexpr QRgb topLeft = qRgb(220, 20, 60), topRight = qRgb(20, 200, 90),
                          bottomLeft = qRgb(30, 60, 230), bottomRight = qRgb(250, 210, 10);

    explicit KnownColours(QRect area)
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
        setGeometry(area);
    }

    // The colour at a point of the desktop, in device-independent pixels.
    QRgb colourAt(QPointF global) const {
        const QPointF centre = QRectF(geometry()).center();
        if (global.y() < centre.y())
            return global.x() < centre.x() ? topLeft : topRight;
        return global.x() < centre.x() ? bottomLeft : bottomRight;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const int w = width() / 2, h = height() / 2;
        painter.fillRect(0, 0, w, h, QColor(topLeft));
        painter.fillRect(w, 0, w, h, QColor(topRight));
        painter.fillRect(0, h, w, h, QColor(bottomLeft));
        painter.fillRect(w, h, w, h, QColor(bottomRight));
    }
};

inline void showAndWaitForExposure(QWidget& window) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, screenTestTimeoutMs));
}

// Every pixel of `image`, taken at `origin` of the desktop, against the colours' window.
inline int pixelsUnlike(const QImage& image, QPointF origin, const KnownColours& colours) {
    const qreal ratio = image.devicePixelRatio();
    int wrong = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QPointF at = origin + QPointF(x + 0.5, y + 0.5) / ratio;
            wrong += image.pixel(x, y) != colours.colourAt(at);
        }
    return wrong;
}

// A picture whose neighbouring pixels differ in every channel, shown in a frameless window.
class VariedPicture : public QWidget {
public:
    explicit VariedPicture(QRect area)
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setGeometry(area);
    }

    static QRgb colourAt(int x, int y) {
        return qRgb((x * 7 + y * 3) % 256, (x ^ (y * 5)) % 256, (x * y + x / 256 * 31) % 256);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QImage picture(size(), QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, colourAt(x, y));
        QPainter(this).drawImage(0, 0, picture);
    }
};

// Qt's own connection to the X server.
inline xcb_connection_t* qtXConnection() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// Whether X shows the window (its map state: viewable), whatever Qt believes. Asked on Qt's
// own connection, with no tool to start, so a test can watch for it within milliseconds.
inline bool isMappedOnX(WId window) {
    xcb_connection_t* connection = qtXConnection();
    xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, xcb_window_t(window)), nullptr);
    const bool viewable = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
}

// An area of the root window of the connection's first screen as one plain GetImage gives it,
// with the fourth byte of each pixel made opaque. Null where that fails or the root's pixels
// are not 32 bits.
inline QImage plainScreenRead(xcb_connection_t* connection, QRect area) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_get_image_reply_t* reply = xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(area.x()),
                      int16_t(area.y()), uint16_t(area.width()), uint16_t(area.height()), ~0u),
        nullptr);
    if (!reply)
        return {};
    QImage image;
    if (xcb_get_image_data_length(reply) == area.width() * area.height() * 4) {
        image = QImage(xcb_get_image_data(reply), area.width(), area.height(), area.width() * 4,
                       QImage::Format_RGB32)
                    .copy();
        for (int y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                row[x] |= 0xff000000u;
        }
    }
    std::free(reply);
    return image;
}

// Input and questions sent straight from this process, with no tool to start in between: for
// tests that must act within a few milliseconds of something they see on the X server.
namespace XServer {

inline xcb_window_t rootWindow(xcb_connection_t* connection) {
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

// The XTEST extension's FakeInput request, as a tool such as xdotool sends it; waits until the
// server has handled it, so that the event has gone out to the window under the pointer.
inline bool fakeInput(uint8_t type, uint8_t detail, QPoint at = {}) {
    static xcb_extension_t xtest = {"XTEST", 0};
    struct {
        uint8_t majorOpcode, minorOpcode;
        uint16_t length;
        uint8_t type, detail, pad0[2];
        uint32_t time;
        xcb_window_t root;
        uint8_t pad1[8];
        int16_t rootX, rootY;
        uint8_t pad2[7], deviceId;
    } request{};
    static_assert(sizeof(request) == 36);
    xcb_connection_t* connection = qtXConnection();
    request.type = type;
    request.detail = detail;
    request.root = rootWindow(connection);
    request.rootX = int16_t(at.x());
    request.rootY = int16_t(at.y());
    const xcb_protocol_request_t header{.count = 2, .ext = &xtest, .opcode = 2, .isvoid = 1};
    iovec parts[4] = {{}, {}, {&request, sizeof(request)}, {nullptr, 0}};
    const xcb_void_cookie_t cookie{
        xcb_send_request(connection, XCB_REQUEST_CHECKED, parts + 2, &header)};
    xcb_generic_error_t* error = xcb_request_check(connection, cookie);
    std::free(error);
    return !error;
}

inline bool movePointer(QPoint to) {
    return fakeInput(XCB_MOTION_NOTIFY, 0, to);
}
inline bool pressButton(bool down) {
    return fakeInput(down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, 1);
}

// The innermost window under the pointer: the one a click goes to.
inline xcb_window_t windowUnderPointer() {
    xcb_connection_t* connection = qtXConnection();
    xcb_window_t window = rootWindow(connection);
    while (true) {
        xcb_query_pointer_reply_t* reply =
            xcb_query_pointer_reply(connection, xcb_query_pointer(connection, window), nullptr);
        const xcb_window_t child = reply ? reply->child : XCB_WINDOW_NONE;
        std::free(reply);
        if (child == XCB_WINDOW_NONE)
            return window;
        window = child;
    }
}

} // namespace XServer
