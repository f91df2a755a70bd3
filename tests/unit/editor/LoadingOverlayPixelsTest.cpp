// Offscreen: the pixels land in Qt's own backing store.
#include "LoadingOverlayPixels.h"

namespace {

using LoadingOverlayPixelsOffscreen = loading_overlay_pixels::LoadingOverlayPixels;

TEST_F(LoadingOverlayPixelsOffscreen, FadeStepsMatchPaintingEverythingBeneath) {
    fadeStepsMatchPaintingEverythingBeneath();
}

TEST_F(LoadingOverlayPixelsOffscreen, ChangesBeneathReachTheScreenThroughThePicture) {
    changesBeneathReachTheScreenThroughThePicture();
}

TEST_F(LoadingOverlayPixelsOffscreen, TheEditsFadeShowsWhatTheOverlayShownFromTheStartShowed) {
    theEditsFadeShowsWhatTheOverlayShownFromTheStartShowed();
}

} // namespace
