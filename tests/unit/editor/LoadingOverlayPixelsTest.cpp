// Offscreen: the pixels land in Qt's own backing store.
#include "LoadingOverlayPixels.h"

namespace {

using LoadingOverlayPixelsOffscreen = loading_overlay_pixels::LoadingOverlayPixels;
using OddSizedLoadingOverlayPixelsOffscreen = loading_overlay_pixels::OddSizedLoadingOverlayPixels;

TEST_F(LoadingOverlayPixelsOffscreen, FadeStepsMatchPaintingEverythingBeneath) {
    fadeStepsMatchPaintingEverythingBeneath();
}

TEST_F(LoadingOverlayPixelsOffscreen, ChangesBeneathReachTheScreenThroughThePicture) {
    changesBeneathReachTheScreenThroughThePicture();
}

TEST_F(LoadingOverlayPixelsOffscreen, TheEditsFadeShowsWhatTheOverlayShownFromTheStartShowed) {
    theEditsFadeShowsWhatTheOverlayShownFromTheStartShowed();
}

TEST_F(OddSizedLoadingOverlayPixelsOffscreen, FadeStepsMatchPaintingEverythingBeneath) {
    fadeStepsMatchPaintingEverythingBeneath();
}

TEST_F(OddSizedLoadingOverlayPixelsOffscreen, ChangesBeneathReachTheScreenThroughThePicture) {
    changesBeneathReachTheScreenThroughThePicture();
}

} // namespace
