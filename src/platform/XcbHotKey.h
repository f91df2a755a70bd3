#pragma once

#include "platform/HotKey.h"

#include <QSocketNotifier>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct xcb_connection_t;

// A passive key grab on every root window, made on an X connection of its own so that the
// grabbed key events reach this object and Qt's connection stays untouched. X matches a
// grab's modifiers exactly, Lock and NumLock included, so the key is grabbed once for each
// combination of those two.
class XcbHotKey : public HotKey {
public:
    static Registration registerEventHotKey(quint32 keycode, Qt::KeyboardModifiers modifiers,
                                            Handler handler);
    ~XcbHotKey() override;

    // Whether a hot key of this process holds `keycode` pressed with the X modifier `state`.
    // A grab takes its key from the focused client but not from raw key events, so the key
    // monitor asks this to leave such a key to the hot key.
    static bool takesKey(quint32 keycode, std::uint16_t state);

private:
    struct Grab {
        std::uint32_t root;
        std::uint16_t modifiers;
    };

    XcbHotKey(xcb_connection_t* connection, std::uint8_t keycode, std::uint16_t modifiers,
              Handler handler);
    int grabAllVariants();
    void releaseGrabs();
    void readEvents();
    void keyPressed(std::uint32_t time);
    void keyReleased(std::uint32_t time);

    xcb_connection_t* connection;
    std::uint8_t keycode;
    std::uint16_t modifiers; // without Lock and NumLock
    Handler handler;
    std::vector<Grab> grabs;
    std::unique_ptr<QSocketNotifier> notifier;
    // The server repeats a held key as a release and a press with one time stamp (this
    // connection never asks XKB for detectable auto-repeat); a person cannot release and
    // press again within the same millisecond.
    std::optional<std::uint32_t> lastReleaseTime;
};
