// The capture on a screen of two device pixels per device-independent pixel: the image
// handed on measures the selection in device-independent pixels and keeps every device
// pixel of the screen.

#include "shell/ScreenCaptureWindow.h"

#include "CaptureTestDoubles.h"
#include "ScreenTestTools.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Read when the application starts, which is after static initialisation.
const bool doubleDensity = qputenv("QT_SCALE_FACTOR", "2");

TEST(CaptureHighDensityE2E, ImageMeasuresTheSelectionAndKeepsDevicePixels) {
    ASSERT_TRUE(doubleDensity);
    ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
    KnownColours colours(QRect(100, 75, 200, 150));
    showAndWaitForExposure(colours);

    RecordingCaptureReceiver receiver;
    ScreenCaptureWindow window;
    window.setAppDelegate(&receiver);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, screenTestTimeoutMs));

    // xdotool speaks device pixels: (300, 200)-(500, 350) is (150, 100)-(250, 175).
    xdotool({"mousemove", "--sync", "300", "200", "mousedown", "1", "mousemove", "--sync", "400",
             "300", "mousemove", "--sync", "500", "350", "mouseup", "1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !receiver.handOffs.empty(); }, screenTestTimeoutMs));

    const auto& handOff = receiver.handOffs[0];
    EXPECT_EQ(handOff.frame, QRectF(150, 100, 100, 75));
    EXPECT_EQ(handOff.image.deviceIndependentSize(), QSizeF(100, 75));
    EXPECT_EQ(handOff.image.size(), QSize(200, 150));
    EXPECT_EQ(pixelsUnlike(handOff.image, handOff.frame.topLeft(), colours), 0);
}

} // namespace
