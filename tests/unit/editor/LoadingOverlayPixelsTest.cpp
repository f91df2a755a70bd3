// Offscreen: the pixels land in Qt's own backing store.
#include "LoadingOverlayPixels.h"
