// Offscreen: the pixels land in Qt's own backing store.
#include "LoadingOverlayPixels.h"

namespace {

LOADING_OVERLAY_PIXEL_TESTS(Offscreen)

} // namespace
