#pragma once

#include <QtGlobal>

class QKeyEvent;

// Keys the application reacts to, recognised by their physical position (X11 keycode), not
// by the character they carry, so a shortcut stays on the same key on every layout.
enum class PhysicalKey { other, escape, z, y, digit2, returnKey };

namespace KeyIdentity {
// X11 keycodes (evdev): Escape 9, Z 52, Y 29, 2 11, Return 36.
PhysicalKey fromNativeScanCode(quint32 scanCode);
// The key of an event. Events made inside the process (tests, the offscreen platform) carry
// no scan code; for those the Qt key stands in.
PhysicalKey fromEvent(const QKeyEvent& event);
} // namespace KeyIdentity
