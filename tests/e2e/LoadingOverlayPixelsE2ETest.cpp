// Under X: the pixels are read back from the X server.
#include "../unit/editor/LoadingOverlayPixels.h"
