// Under X: the pixels are read back from the X server.
#include "../unit/editor/LoadingOverlayPixels.h"

namespace {

LOADING_OVERLAY_PIXEL_TESTS(UnderX)

} // namespace
