#pragma once

#include <Qt>
#include <QtGlobal>

#include <functional>
#include <memory>

// A system-wide key-down monitor: sees key presses sent to other applications' windows. It
// cannot consume them, and it stays silent while one of this application's windows has the
// focus (those keys reach the application's own key handling instead) and for a key that a
// HotKey of this application holds (the hot key consumes it). The monitor is
// removed when this object is destroyed; destroy it outside its handler (for example from
// a queued call).
class GlobalKeyMonitor {
public:
    struct KeyPress {
        quint32 keycode; // the physical key: an X11 keycode, as KeyIdentity reads it
        Qt::KeyboardModifiers modifiers;
    };
    using Handler = std::function<void(const KeyPress& key)>;

    // Picks the back end for the running platform: XInput2 under X11, a silent one where
    // there is no desktop to watch (the offscreen platform) or XInput2 is unavailable.
    static std::unique_ptr<GlobalKeyMonitor> addGlobalMonitorForKeyDown(Handler handler);

    virtual ~GlobalKeyMonitor() = default;
    // Whether keys are being watched at all.
    virtual bool isWatching() const = 0;

protected:
    GlobalKeyMonitor() = default;
    // Back ends report every key press here; this applies the focus rule.
    void report(const KeyPress& key) const;

    Handler handler;
};
