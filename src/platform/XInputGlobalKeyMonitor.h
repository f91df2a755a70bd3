#pragma once

#include "platform/GlobalKeyMonitor.h"

#include <QObject>
#include <QSocketNotifier>

#include <cstdint>
#include <map>
#include <memory>
#include <set>

struct xcb_connection_t;

// Raw key events (XInput2) selected on every root window, read on an X connection of its
// own so that Qt's connection and its event handling stay untouched. Raw events reach the
// root window whichever client has the focus, so this sees keys typed into other
// applications, and also the keys that a hot key of this process takes: those it leaves to
// the hot key.
class XInputGlobalKeyMonitor : public QObject, public GlobalKeyMonitor {
    Q_OBJECT
public:
    // Null when the X server cannot be reached or lacks XInput 2.
    static std::unique_ptr<XInputGlobalKeyMonitor> create();
    ~XInputGlobalKeyMonitor() override;

    bool isWatching() const override { return true; }

private:
    XInputGlobalKeyMonitor(xcb_connection_t* connection, quint8 extensionOpcode);
    bool selectRawKeyPresses();
    void readEvents();
    void readModifierKeys();
    void readHeldKeys();
    Qt::KeyboardModifiers heldModifiers() const;
    std::uint16_t heldModifierState() const;

    xcb_connection_t* connection;
    quint8 extensionOpcode;
    std::unique_ptr<QSocketNotifier> notifier;
    // Keys bound to a modifier other than the locks: pressing one alone is no key-down;
    // while held, it is part of every key-down. Mod3 and Mod5 have no Qt modifier but still
    // keep a hot key's grab from matching.
    struct ModifierKey {
        Qt::KeyboardModifiers modifiers;
        std::uint16_t state; // the X modifier bits
    };
    std::map<quint32, ModifierKey> modifierKeys;
    std::set<quint32> heldModifierKeys;
};
