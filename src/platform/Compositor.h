#pragma once

// Whether translucent windows show the desktop beneath them. Without a compositing manager
// an X11 window's transparent pixels are undefined (in practice opaque black), so a
// see-through overlay must paint the screen itself.
namespace Compositor {
bool isRunning();
} // namespace Compositor
