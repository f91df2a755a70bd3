#pragma once

// Tools for the tests under a real X server: xdotool run beside the event loop, and a
// window of known colours.

#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

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

// Moves the pointer to a point of the desktop (device-independent pixels) and clicks there.
inline void clickAt(QPoint global) {
    xdotool({"mousemove", "--sync", QString::number(global.x()), QString::number(global.y()),
             "click", "1"});
}

// The window that has the X keyboard focus.
inline WId focusedWindow() {
    return runXdotool({"getwindowfocus", "-f"}).toULongLong();
}

// Whether X shows the window (xwininfo's map state), whatever Qt believes.
inline bool isMappedOnX(WId window) {
    return runTool(QStringLiteral("xwininfo"), {"-id", QString::number(window)})
        .contains("IsViewable");
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
