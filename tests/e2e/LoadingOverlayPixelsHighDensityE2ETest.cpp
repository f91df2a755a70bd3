// Under X, on a screen of two device pixels per device-independent pixel: the picture and
// the window's pixels meet one to one in device pixels.
#include "../unit/editor/LoadingOverlayPixels.h"

namespace {

// Read when the application starts, which is after static initialisation.
const bool doubleDensity = qputenv("QT_SCALE_FACTOR", "2");

class LoadingOverlayPixelsAtDoubleDensity : public loading_overlay_pixels::LoadingOverlayPixels {
protected:
    // Odd in device-independent pixels: the window's edges fall between the bands' rows in
    // other places than at one device pixel per pixel.
    LoadingOverlayPixelsAtDoubleDensity() { captureSize = QSize(451, 287); }
};

TEST_F(LoadingOverlayPixelsAtDoubleDensity, FadeStepsMatchPaintingEverythingBeneath) {
    ASSERT_TRUE(doubleDensity);
    ASSERT_EQ(window->devicePixelRatioF(), 2.0);
    fadeStepsMatchPaintingEverythingBeneath();
}

TEST_F(LoadingOverlayPixelsAtDoubleDensity, ChangesBeneathReachTheScreenThroughThePicture) {
    changesBeneathReachTheScreenThroughThePicture();
}

} // namespace
