#include "shell/OverlayView.h"
#include "shell/ScreenCaptureWindow.h"

#include "platform/BackingStorePreparation.h"

#include "CaptureTestDoubles.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

namespace {

void sendMouse(QWidget* view, QEvent::Type type, QPointF at, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, view->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &event);
}

void hover(QWidget* view, QPointF at) {
    sendMouse(view, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
}

void press(QWidget* view, QPointF at) {
    sendMouse(view, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
}

void dragTo(QWidget* view, QPointF at) {
    sendMouse(view, QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
}

void release(QWidget* view, QPointF at) {
    sendMouse(view, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}

void drag(QWidget* view, QPointF from, QPointF to) {
    press(view, from);
    dragTo(view, (from + to) / 2);
    dragTo(view, to);
}

// The view as painted over a transparent surface: what lies beneath a translucent window.
QImage rendered(QWidget* view) {
    QImage image(view->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    view->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

const QRgb dimmed = qRgba(0, 0, 0, 128);
const QRgb untouched = qRgba(0, 0, 0, 0);
const QRgb brandOrange = qRgb(255, 92, 0);
const QRgb white = qRgb(255, 255, 255);

bool near(QRgb actual, QRgb expected) {
    return std::abs(qRed(actual) - qRed(expected)) <= 1 &&
           std::abs(qGreen(actual) - qGreen(expected)) <= 1 &&
           std::abs(qBlue(actual) - qBlue(expected)) <= 1 &&
           std::abs(qAlpha(actual) - qAlpha(expected)) <= 1;
}

// A capture window over the offscreen screen whose grabs answer in one colour.
struct CaptureFixture {
    ScriptedGrabbers grabbers{{ScriptedScreenGrabber::solid(Qt::green)}};
    ScriptedScreenGrabber& grabber = *grabbers.grabbers.front();
    RecordingCaptureReceiver receiver;
    ScreenCaptureWindow window{std::move(grabbers.list)};
    OverlayView* view = window.findChild<OverlayView*>();

    CaptureFixture() {
        window.setAppDelegate(&receiver);
        window.resize(800, 600);
    }
    void settle() { QCoreApplication::processEvents(); }
};

TEST(OverlayViewSelection, EveryDragDirectionGivesTheSameRectangle) {
    const QPointF topLeft(100, 120);
    const QPointF bottomRight(300.5, 250.25);
    const QPointF topRight(bottomRight.x(), topLeft.y());
    const QPointF bottomLeft(topLeft.x(), bottomRight.y());
    const struct {
        const char* direction;
        QPointF from, to;
    } drags[] = {{"down-right", topLeft, bottomRight},
                 {"up-left", bottomRight, topLeft},
                 {"down-left", topRight, bottomLeft},
                 {"up-right", bottomLeft, topRight}};
    for (const auto& d : drags) {
        SCOPED_TRACE(d.direction);
        CaptureFixture capture;
        drag(capture.view, d.from, d.to);
        release(capture.view, d.to);
        capture.settle();
        ASSERT_EQ(capture.receiver.handOffs.size(), 1u);
        EXPECT_EQ(capture.receiver.handOffs[0].frame, QRectF(100, 120, 200.5, 130.25));
        ASSERT_EQ(capture.grabber.requests.size(), 1u);
        EXPECT_EQ(capture.grabber.requests[0], QRect(100, 120, 201, 130));
    }
}

TEST(OverlayViewSelection, OnlyBothSidesLargerThanTwentyAreCaptured) {
    const struct {
        const char* name;
        QSizeF size;
        bool captured;
    } cases[] = {{"exactly 20 wide", {20.0, 50.0}, false},
                 {"exactly 20 high", {50.0, 20.0}, false},
                 {"just over both ways", {20.5, 21.0}, true},
                 {"zero width", {0.0, 35.0}, false},
                 {"zero height", {35.0, 0.0}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureFixture capture;
        const QPointF from(200, 200);
        drag(capture.view, from, from + QPointF(c.size.width(), c.size.height()));
        release(capture.view, from + QPointF(c.size.width(), c.size.height()));
        capture.settle();
        EXPECT_EQ(capture.receiver.handOffs.size(), c.captured ? 1u : 0u);
        EXPECT_EQ(capture.grabber.requests.size(), c.captured ? 1u : 0u);
        if (!c.captured) {
            // The overlay stays open and shows the plain dimmed screen again.
            EXPECT_TRUE(capture.window.isVisible());
            EXPECT_TRUE(near(rendered(capture.view).pixel(210, 210), dimmed));
        }
    }
}

TEST(OverlayViewSelection, ClickWithoutDragCapturesNothingAndANewDragStillWorks) {
    CaptureFixture capture;
    press(capture.view, {150, 150});
    release(capture.view, {150, 150});
    capture.settle();
    EXPECT_TRUE(capture.receiver.handOffs.empty());
    EXPECT_TRUE(capture.window.isVisible());

    drag(capture.view, {10, 10}, {110, 60});
    release(capture.view, {110, 60});
    capture.settle();
    ASSERT_EQ(capture.receiver.handOffs.size(), 1u);
    EXPECT_EQ(capture.receiver.handOffs[0].frame, QRectF(10, 10, 100, 50));
}

TEST(OverlayViewSelection, ANewPressDiscardsTheOldSelection) {
    CaptureFixture capture;
    drag(capture.view, {100, 100}, {300, 300});
    press(capture.view, {400, 400});
    release(capture.view, {400, 400});
    capture.settle();
    EXPECT_TRUE(capture.receiver.handOffs.empty());
}

TEST(OverlayViewSelection, ReleaseAfterTheWindowLetGoCapturesNothing) {
    CaptureFixture capture;
    capture.window.close();
    drag(capture.view, {100, 100}, {300, 300});
    release(capture.view, {300, 300});
    capture.settle();
    EXPECT_TRUE(capture.receiver.handOffs.empty());
    EXPECT_TRUE(capture.grabber.requests.empty());
}

TEST(OverlayViewLabel, ShowsTruncatedWholeSizes) {
    const struct {
        QSizeF size;
        const char* text;
    } cases[] = {{{320.7, 200.2}, "320 \u00D7 200"},
                 {{0, 35}, "0 \u00D7 35"},
                 {{20.99, 21}, "20 \u00D7 21"},
                 {{3840, 2160}, "3840 \u00D7 2160"}};
    for (const auto& c : cases)
        EXPECT_EQ(OverlayView::labelText(QRectF(QPointF(5, 5), c.size)), QString::fromUtf8(c.text));
}

TEST(OverlayViewDrawing, DimsOutsideLeavesInsideAndStrokesTheBorder) {
    OverlayView view;
    view.resize(400, 300);
    drag(&view, {100, 100}, {300, 250});
    const QImage image = rendered(&view);

    EXPECT_TRUE(near(image.pixel(50, 50), dimmed));   // above and left
    EXPECT_TRUE(near(image.pixel(350, 175), dimmed)); // right
    EXPECT_TRUE(near(image.pixel(200, 280), dimmed)); // below
    EXPECT_TRUE(near(image.pixel(50, 175), dimmed));  // left
    EXPECT_EQ(image.pixel(200, 175), untouched);      // inside
    EXPECT_EQ(image.pixel(105, 245), untouched);      // inside, near the corner
    for (const QPoint edge : {QPoint(100, 175), QPoint(300, 175), QPoint(200, 100),
                              QPoint(200, 250), QPoint(99, 175), QPoint(299, 175)})
        EXPECT_EQ(image.pixel(edge), brandOrange) << edge.x() << "," << edge.y();
}

TEST(OverlayViewDrawing, LabelBoxSitsFivePointsAboveTheSelection) {
    OverlayView view;
    view.resize(400, 300);
    drag(&view, {100, 100}, {300, 250});
    const QImage image = rendered(&view);
    // Black at 0.7 over the dimming: alpha 0.85. The box starts at the centre minus half the
    // text, so just right of the centre is always inside it.
    EXPECT_GT(qAlpha(image.pixel(205, 100 - 5 - 3)), 200);
    EXPECT_TRUE(near(image.pixel(205, 100 - 3), dimmed));  // the gap
    EXPECT_TRUE(near(image.pixel(205, 100 - 40), dimmed)); // above the box
    // White text somewhere in the box.
    bool text = false;
    for (int x = 150; x < 260 && !text; ++x)
        for (int y = 70; y < 95 && !text; ++y)
            text = qRed(image.pixel(x, y)) > 200;
    EXPECT_TRUE(text);
}

TEST(OverlayViewDrawing, ZeroWidthSelectionStillShowsBorderAndLabel) {
    OverlayView view;
    view.resize(400, 300);
    drag(&view, {100, 100}, {100, 135});
    const QImage image = rendered(&view);
    EXPECT_EQ(image.pixel(100, 120), brandOrange);
    EXPECT_GT(qAlpha(image.pixel(101, 100 - 8)), 200);
}

TEST(OverlayViewDrawing, CrosshairStaysOnTopAndWhereThePointerWasBeforeThePress) {
    OverlayView view;
    view.resize(400, 300);
    hover(&view, {200, 100});
    drag(&view, {100, 100}, {300, 250});
    QImage image = rendered(&view);
    EXPECT_EQ(image.pixel(150, 100), white); // over the top border
    EXPECT_EQ(image.pixel(200, 200), white); // through the undimmed inside
    EXPECT_EQ(image.pixel(200, 20), white);  // through the dimming
    EXPECT_EQ(image.pixel(380, 100), white); // across the whole width

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&view, &leave);
    image = rendered(&view);
    EXPECT_EQ(image.pixel(200, 200), untouched);
    EXPECT_TRUE(near(image.pixel(200, 20), dimmed));
}

// Every pixel of a varied screen picture, not only one flat colour: outside the selection the
// picture under black at half alpha, inside it the picture itself.
TEST(OverlayViewDrawing, BackdropPixelsAreThePictureDimmedOutsideAndUntouchedInside) {
    struct Case {
        const char* name;
        QImage::Format format;
        std::optional<QRect> selection;
    };
    const Case cases[] = {
        {"no selection, 32-bit screen", QImage::Format_RGB32, std::nullopt},
        {"selection, 32-bit screen", QImage::Format_RGB32, QRect(100, 100, 200, 150)},
        {"selection, picture with alpha", QImage::Format_ARGB32_Premultiplied,
         QRect(60, 140, 250, 100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QImage picture(400, 300, c.format);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb((x * 7 + y * 3) % 256, (x ^ y) % 256, (x * y) % 256));
        OverlayView view;
        view.resize(picture.size());
        view.setBackdrop(picture);
        if (c.selection)
            drag(&view, c.selection->topLeft(),
                 c.selection->topLeft() + QPoint(c.selection->width(), c.selection->height()));
        const QImage image = rendered(&view);

        QImage expected = picture.convertToFormat(image.format());
        QPainter(&expected).fillRect(expected.rect(), QColor(0, 0, 0, 128));
        int compared = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QPoint p(x, y);
                QRgb want = expected.pixel(p);
                if (c.selection) {
                    // The border, and the label above the selection, lie over the picture.
                    if (c.selection->adjusted(2, 2, -2, -2).contains(p))
                        want = picture.pixel(p);
                    else if (c.selection->adjusted(-3, -30, 3, 3).contains(p))
                        continue;
                }
                ASSERT_EQ(image.pixel(p), want) << "at " << x << ", " << y;
                ++compared;
            }
        }
        EXPECT_GT(compared, 300 * 400 / 2);
    }
}

// The view painted onto an image of the given format and device pixel ratio.
QImage renderedAt(QWidget* view, qreal ratio, QImage::Format format) {
    QImage image(view->size() * ratio, format);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    view->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Lets the background work the first frame started finish and hand its result back.
void settleBackgroundWork() {
    QCoreApplication::processEvents();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

// Once the dimmed copy made in the background is ready, frames are plain copies from it and
// from the picture; they must show exactly what dimming the picture while painting shows,
// edges of a selection between pixels and high-density screens included.
TEST(OverlayViewDrawing, FramesFromTheDimmedCopyEqualFramesDimmedWhilePainting) {
    struct Case {
        const char* name;
        qreal ratio;
        std::optional<QRectF> selection;
        QImage::Format surface = QImage::Format_ARGB32;
    };
    const Case cases[] = {
        {"no selection", 1.0, std::nullopt},
        {"selection on whole pixels", 1.0, QRectF(100, 100, 200, 150)},
        {"selection between pixels", 1.0, QRectF(60.5, 140.25, 250.5, 100.75)},
        {"device pixel ratio 2, selection between pixels", 2.0,
         QRectF(60.25, 140.75, 250.5, 100.25)},
        {"premultiplied surface, as an X window's", 1.0, QRectF(60.5, 140.25, 250.5, 100.75),
         QImage::Format_ARGB32_Premultiplied},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QImage picture(QSize(400, 300) * c.ratio, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb((x * 5 + y * 3) % 256, (x ^ y) % 256, (x * y) % 256));
        picture.setDevicePixelRatio(c.ratio);
        OverlayView view;
        view.resize(400, 300);
        view.setBackdrop(picture);
        if (c.selection)
            drag(&view, c.selection->topLeft(), c.selection->bottomRight());

        const QImage dimmedWhilePainting = renderedAt(&view, c.ratio, c.surface);
        ASSERT_FALSE(view.hasDimmedBackdrop());
        settleBackgroundWork();
        ASSERT_TRUE(view.hasDimmedBackdrop());
        const QImage fromDimmedCopy = renderedAt(&view, c.ratio, c.surface);

        int differing = 0;
        for (int y = 0; y < fromDimmedCopy.height(); ++y)
            for (int x = 0; x < fromDimmedCopy.width(); ++x)
                differing += fromDimmedCopy.pixel(x, y) != dimmedWhilePainting.pixel(x, y);
        EXPECT_EQ(differing, 0);
        // Not the same wrong frame twice: the picture dimmed outside, itself inside.
        const QPoint outside(int(30 * c.ratio), int(7 * c.ratio));
        const QRgb bright = picture.pixel(outside);
        EXPECT_TRUE(near(fromDimmedCopy.pixel(outside),
                         qRgb(qRed(bright) / 2, qGreen(bright) / 2, qBlue(bright) / 2)));
        if (c.selection) {
            const QPoint inside = (c.selection->center() * c.ratio).toPoint();
            EXPECT_EQ(fromDimmedCopy.pixel(inside), picture.pixel(inside));
        }
    }
}

// A new picture replaces the dimmed copy of the old one, also when that copy arrives late.
TEST(OverlayViewDrawing, ANewBackdropIsNeverPaintedFromTheOldOnesDimmedCopy) {
    QImage first(400, 300, QImage::Format_RGB32);
    first.fill(QColor(200, 40, 40));
    QImage second(400, 300, QImage::Format_RGB32);
    second.fill(QColor(40, 40, 200));
    OverlayView view;
    view.resize(400, 300);
    view.setBackdrop(first);
    rendered(&view);
    QCoreApplication::processEvents(); // the first picture's copy starts
    view.setBackdrop(second);
    settleBackgroundWork();
    EXPECT_FALSE(view.hasDimmedBackdrop());
    EXPECT_TRUE(near(rendered(&view).pixel(10, 10), qRgb(20, 20, 100)));
    settleBackgroundWork();
    ASSERT_TRUE(view.hasDimmedBackdrop());
    EXPECT_TRUE(near(rendered(&view).pixel(10, 10), qRgb(20, 20, 100)));
}

// A picture with every value of every channel, next to pixels of other values.
QImage everyChannelValue() {
    QImage picture(256, 256, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x, y, (x * 3 + y) % 256));
    return picture;
}

// The capture window paints the first frame's picture onto its surface in runs of rows on the
// threads that read the screen; the result must be the frame that dimming while painting
// gives, on the premultiplied surface of an X window.
TEST(OverlayViewDrawing, PicturePaintedInRunsOfRowsOnThreadsEqualsAFrameDimmedWhilePainting) {
    const QImage picture = everyChannelValue();
    OverlayView view;
    view.resize(picture.size());
    view.setBackdrop(picture);
    const QImage dimmedWhilePainting = renderedAt(&view, 1.0, QImage::Format_ARGB32_Premultiplied);

    QImage surface(picture.size(), QImage::Format_ARGB32_Premultiplied);
    surface.fill(Qt::green);
    uchar* pixels = surface.bits();
    const int rowsPerRun = 7;
    std::vector<std::jthread> threads;
    for (int thread = 0; thread < 4; ++thread)
        threads.emplace_back([&, thread] {
            for (int first = thread * rowsPerRun; first < picture.height();
                 first += 4 * rowsPerRun) {
                const int count = std::min(rowsPerRun, picture.height() - first);
                QImage rows(pixels + first * surface.bytesPerLine(), surface.width(), count,
                            surface.bytesPerLine(), surface.format());
                const QImage pictureRows(picture.constScanLine(first), picture.width(), count,
                                         picture.bytesPerLine(), picture.format());
                OverlayView::paintDimmedPicture(rows, pictureRows);
            }
        });
    threads.clear();

    int differing = 0;
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x)
            differing += surface.pixel(x, y) != dimmedWhilePainting.pixel(x, y);
    EXPECT_EQ(differing, 0);
}

// What the capture window painted onto the surface before the first frame is that frame's
// picture: the frame paints only what lies above it. A frame after it, a first frame that
// has a selection to show, or one onto another surface paints everything.
TEST(OverlayViewDrawing, AFirstFrameOntoThePaintedSurfaceKeepsWhatIsThere) {
    const struct {
        const char* name;
        bool selectionFirst;
        bool otherSurface;
        bool kept;
    } cases[] = {
        {"the first frame", false, false, true},
        {"a selection begun before the first frame", true, false, false},
        {"a surface other than the one painted", false, true, false},
    };
    const QImage picture = everyChannelValue();
    const QRgb marker = qRgb(0, 255, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OverlayView view;
        view.resize(picture.size());
        BackingStorePreparation preparation(&view);
        QImage* surface = preparation.surface();
        ASSERT_NE(surface, nullptr);
        // Stands for the painted picture: whatever the first frame leaves of it shows.
        surface->fill(marker);
        view.setBackdrop(picture, c.otherSurface ? surface->copy() : *surface);
        if (c.selectionFirst)
            drag(&view, {100, 100}, {200, 200});
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        QCoreApplication::processEvents();
        const QPoint outside(10, 240);
        EXPECT_EQ(surface->pixel(outside) == marker, c.kept);

        view.repaint();
        const QRgb bright = picture.pixel(outside);
        EXPECT_TRUE(near(surface->pixel(outside),
                         qRgb(qRed(bright) / 2, qGreen(bright) / 2, qBlue(bright) / 2)));
    }
}

} // namespace
