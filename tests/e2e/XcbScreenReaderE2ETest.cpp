// The screen read under a real X server: strips through shared memory on several threads
// against one plain GetImage of the same area, and the ways that do not read in strips.

#include "platform/XcbScreenReader.h"

#include "ScreenTestTools.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// The runs of rows a read told of, and how many of them did not yet hold the expected pixels
// when told.
struct RowsTold {
    explicit RowsTold(QImage expected)
        : expected(std::move(expected)) {}

    ScreenGrabber::RowsRead recorder() {
        return [this](const QImage& image, int firstRow, int rowCount) {
            for (int row = firstRow; row < firstRow + rowCount; ++row)
                if (!std::equal(image.constScanLine(row),
                                image.constScanLine(row) + image.width() * 4,
                                expected.constScanLine(row)))
                    ++rowsNotYetIn;
            const std::lock_guard lock(mutex);
            runs.emplace_back(firstRow, rowCount);
        };
    }
    // Whether the runs cover every row of the image exactly once.
    bool coverEachRowOnce() {
        std::ranges::sort(runs);
        int next = 0;
        for (const auto& [first, count] : runs) {
            if (first != next || count < 1)
                return false;
            next = first + count;
        }
        return next == expected.height();
    }

    QImage expected;
    std::mutex mutex;
    std::vector<std::pair<int, int>> runs;
    std::atomic<int> rowsNotYetIn = 0;
};

// An X server of this test's own, ended with the test.
class OwnXServer {
public:
    explicit OwnXServer(const QStringList& arguments) {
        server.start(QStringLiteral("Xvfb"),
                     QStringList{"-displayfd", "1", "-nolisten", "tcp"} + arguments);
        if (!server.waitForReadyRead(screenTestTimeoutMs))
            return;
        const QByteArray display = ':' + server.readLine().trimmed();
        connection = xcb_connect(display.constData(), nullptr);
    }
    ~OwnXServer() {
        if (connection)
            xcb_disconnect(connection);
        server.kill();
        server.waitForFinished();
    }
    bool connected() const { return connection && !xcb_connection_has_error(connection); }

    QProcess server;
    xcb_connection_t* connection = nullptr;
};

TEST(XcbScreenReaderE2E, StripsGiveThePixelsOfOnePlainReadAndTellEachRowOnceWhenIn) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_EQ(screen.topLeft(), QPoint());
    VariedPicture picture(screen);
    showAndWaitForExposure(picture);
    QTest::qWait(50);

    const int w = screen.width(), h = screen.height();
    const struct {
        const char* name;
        QRect area;
        qsizetype stripBytes;
    } cases[] = {
        {"the whole screen in the usual strips", screen, XcbScreenReader::defaultStripBytes},
        {"strips that do not divide the height", screen, w * 4 * 7},
        {"an odd area inside, a row per strip", QRect(13, 7, 333, 77), 1},
        {"an area at the bottom-right edge", QRect(w - 101, h - 59, 101, 59), 101 * 4 * 5},
        {"one pixel in the corner", QRect(w - 1, h - 1, 1, 1), 1},
        {"one column, in one strip", QRect(0, 0, 1, h), XcbScreenReader::defaultStripBytes},
        {"fewer strips than threads", QRect(100, 100, 500, 3), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage expected = plainScreenRead(qtXConnection(), c.area);
        ASSERT_FALSE(expected.isNull());
        RowsTold told(expected);
        XcbScreenReader reader(qtXConnection(), c.stripBytes);
        const QImage image = reader.read(c.area, told.recorder());
        EXPECT_TRUE(reader.readThroughSharedMemory());
        ASSERT_EQ(image.format(), QImage::Format_RGB32);
        ASSERT_EQ(image.size(), c.area.size());
        EXPECT_TRUE(image == expected);
        EXPECT_TRUE(told.coverEachRowOnce());
        EXPECT_EQ(told.rowsNotYetIn, 0);
    }
}

TEST(XcbScreenReaderE2E, AreasPastTheRootsEdgeAreNotRead) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    for (const QRect area : {QRect(screen.width() - 50, 0, 100, 10), QRect(-1, 0, 10, 10),
                             QRect(0, screen.height() - 1, 10, 2)}) {
        XcbScreenReader reader(qtXConnection());
        EXPECT_TRUE(reader.read(area).isNull());
    }
}

TEST(XcbScreenReaderE2E, WithoutSharedMemoryTheAreaIsReadWithOneRequest) {
    OwnXServer server({"-screen", "0", "640x480x24", "-extension", "MIT-SHM"});
    ASSERT_TRUE(server.connected());
    const QRect area(5, 3, 301, 211);
    const QImage expected = plainScreenRead(server.connection, area);
    ASSERT_FALSE(expected.isNull());
    RowsTold told(expected);
    XcbScreenReader reader(server.connection, 1);
    const QImage image = reader.read(area, told.recorder());
    EXPECT_FALSE(reader.readThroughSharedMemory());
    EXPECT_TRUE(image == expected);
    EXPECT_TRUE(told.coverEachRowOnce());
    EXPECT_EQ(told.rowsNotYetIn, 0);
}

TEST(XcbScreenReaderE2E, ARootOfAnotherDepthIsNotRead) {
    OwnXServer server({"-screen", "0", "640x480x16"});
    ASSERT_TRUE(server.connected());
    XcbScreenReader reader(server.connection);
    int told = 0;
    EXPECT_TRUE(
        reader.read(QRect(0, 0, 64, 48), [&](const QImage&, int, int) { ++told; }).isNull());
    EXPECT_EQ(told, 0);
}

} // namespace
