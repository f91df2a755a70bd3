// Under X: the pixels are read back from the X server.
#include "../unit/editor/LoadingOverlayPixels.h"

namespace {

using LoadingOverlayPixelsUnderX = loading_overlay_pixels::LoadingOverlayPixels;
using OddSizedLoadingOverlayPixelsUnderX = loading_overlay_pixels::OddSizedLoadingOverlayPixels;

TEST_F(LoadingOverlayPixelsUnderX, FadeStepsMatchPaintingEverythingBeneath) {
    fadeStepsMatchPaintingEverythingBeneath();
}

TEST_F(LoadingOverlayPixelsUnderX, ChangesBeneathReachTheScreenThroughThePicture) {
    changesBeneathReachTheScreenThroughThePicture();
}

TEST_F(LoadingOverlayPixelsUnderX, TheEditsFadeShowsWhatTheOverlayShownFromTheStartShowed) {
    theEditsFadeShowsWhatTheOverlayShownFromTheStartShowed();
}

TEST_F(OddSizedLoadingOverlayPixelsUnderX, FadeStepsMatchPaintingEverythingBeneath) {
    fadeStepsMatchPaintingEverythingBeneath();
}

TEST_F(OddSizedLoadingOverlayPixelsUnderX, ChangesBeneathReachTheScreenThroughThePicture) {
    changesBeneathReachTheScreenThroughThePicture();
}

} // namespace
