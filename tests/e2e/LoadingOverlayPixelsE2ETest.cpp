// Under X: the pixels are read back from the X server.
#include "../unit/editor/LoadingOverlayPixels.h"

namespace {

using LoadingOverlayPixelsUnderX = loading_overlay_pixels::LoadingOverlayPixels;

TEST_F(LoadingOverlayPixelsUnderX, FadeStepsMatchPaintingEverythingBeneath) {
    fadeStepsMatchPaintingEverythingBeneath();
}

TEST_F(LoadingOverlayPixelsUnderX, ChangesBeneathReachTheScreenThroughThePicture) {
    changesBeneathReachTheScreenThroughThePicture();
}

TEST_F(LoadingOverlayPixelsUnderX, TheEditsFadeShowsWhatTheOverlayShownFromTheStartShowed) {
    theEditsFadeShowsWhatTheOverlayShownFromTheStartShowed();
}

} // namespace
