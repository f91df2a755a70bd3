// Under X, on a screen of two device pixels per device-independent pixel: the picture and
// the window's pixels meet one to one in device pixels.
#include "../unit/editor/LoadingOverlayPixels.h"

namespace {

// Read when the application starts, which is after static initialisation.
const bool doubleDensity = qputenv("QT_SCALE_FACTOR", "2");

class LoadingOverlayPixelsAtDoubleDensity : public loading_overlay_pixels::LoadingOverlayPixels {
protected:
    // Half the screen's device-independent width and a little: the window, its size fitted
    // to the screen, is odd in device-independent pixels.
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
