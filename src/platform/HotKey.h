#pragma once

#include <Qt>
#include <QtGlobal>

#include <functional>
#include <memory>

// A system-wide hot key: one key with exactly the given modifiers, taken for this
// application wherever the focus is, so the key no longer reaches the focused application
// nor this application's GlobalKeyMonitor.
// Lock and NumLock are ignored; other modifiers must match exactly, so Ctrl+Alt+Shift+2 is not
// the hot key Ctrl+Shift+2. The handler runs on the registering (GUI) thread once per press:
// holding the key down does not call it again. Destroying the object releases the key; do not
// destroy it from inside its handler (defer that, for example with a queued call).
class HotKey {
public:
    using Handler = std::function<void()>;

    // The status when there is no X11 display to take keys on (Wayland without XWayland,
    // the offscreen platform, an X server that cannot be reached).
    static constexpr int noX11Display = -1;

    struct Registration {
        std::unique_ptr<HotKey> hotKey; // set only when status is 0
        // 0 when the key is taken; otherwise the X error code of the first refused grab
        // (10, BadAccess: another client holds the key; 2, BadValue: no such keycode) or
        // noX11Display.
        int status;
    };

    // `keycode` is the physical key as an X11 keycode (11 is the digit 2 of the main row);
    // `modifiers` any of Shift, Control, Alt and Meta.
    static Registration registerEventHotKey(quint32 keycode, Qt::KeyboardModifiers modifiers,
                                            Handler handler);

    virtual ~HotKey() = default;

protected:
    HotKey() = default;
};
