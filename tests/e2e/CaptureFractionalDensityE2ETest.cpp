// The capture on a screen of one and a half device pixels per device-independent pixel, where
// the corners of a selection can lie between device pixels or between device-independent
// pixels: the image handed on measures the selection and holds the device pixels under it.

#include "shell/ScreenCaptureWindow.h"

#include "CaptureTestDoubles.h"
#include "ScreenTestTools.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Read when the application starts, which is after static initialisation.
const bool fractionalDensity = qputenv("QT_SCALE_FACTOR", "1.5");

TEST(CaptureFractionalDensityE2E, ImageMeasuresTheSelectionAndHoldsItsDevicePixels) {
    ASSERT_TRUE(fractionalDensity);
    ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 1.5);
    // The quadrants meet at (400, 280), device pixel (600, 420).
    KnownColours colours(QRect(100, 80, 600, 400));
    showAndWaitForExposure(colours);
    const struct {
        const char* name;
        std::function<void(ScreenCaptureWindow&)> select;
    } cases[] = {
        // xdotool speaks device pixels: 450 by 300 of them are 300 by 200 points.
        {"dragged with the pointer",
         [](ScreenCaptureWindow&) {
             xdotool({"mousemove", "--sync", "301", "200", "mousedown", "1", "mousemove", "--sync",
                      "500", "400", "mousemove", "--sync", "751", "500", "mouseup", "1"});
         }},
        // As a pointer that reports parts of device-independent pixels hands it on.
        {"between device-independent pixels",
         [](ScreenCaptureWindow& window) {
             window.captureSelectedArea(QRectF(QPointF(301, 200) / 1.5, QSizeF(300, 200)));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingCaptureReceiver receiver;
        ScreenCaptureWindow window;
        window.setAppDelegate(&receiver);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, screenTestTimeoutMs));
        c.select(window);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return !receiver.handOffs.empty(); }, screenTestTimeoutMs));

        const auto& handOff = receiver.handOffs[0];
        EXPECT_EQ(handOff.frame.size(), QSizeF(300, 200));
        EXPECT_EQ(handOff.image.deviceIndependentSize(), QSizeF(300, 200));
        EXPECT_EQ(handOff.image.size(), QSize(450, 300));
        EXPECT_EQ(pixelsUnlike(handOff.image, handOff.frame.topLeft(), colours), 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, screenTestTimeoutMs));
    }
}

} // namespace
