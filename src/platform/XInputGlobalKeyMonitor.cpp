#include "platform/XInputGlobalKeyMonitor.h"

#include "platform/Logger.h"
#include "platform/XcbHotKey.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>
#include <optional>

namespace {

const Logger logger{"com.app.pixaloom", "GlobalKeyMonitor"};

template <typename T> using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> XcbReply<T> takeReply(T* reply) {
    return XcbReply<T>(reply, &std::free);
}

// The extension's opcode, or nothing when the server lacks XInput 2.0 or later.
std::optional<quint8> xinput2Opcode(xcb_connection_t* connection) {
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(connection, &xcb_input_id);
    if (!extension || !extension->present)
        return std::nullopt;
    // A client must announce the XInput version it speaks before it selects XI2 events. From
    // 2.1 on, raw events keep coming while another client grabs the keyboard (a hot key, an
    // open menu); a 2.0 client would miss the modifiers released meanwhile and see them
    // held in every later key.
    auto version = takeReply(xcb_input_xi_query_version_reply(
        connection, xcb_input_xi_query_version(connection, 2, 1), nullptr));
    if (!version || version->major_version < 2)
        return std::nullopt;
    return extension->major_opcode;
}

} // namespace

std::unique_ptr<XInputGlobalKeyMonitor> XInputGlobalKeyMonitor::create() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        logger.error("Cannot watch global keys: no connection to the X server");
        return nullptr;
    }
    const std::optional<quint8> opcode = xinput2Opcode(connection);
    if (!opcode) {
        xcb_disconnect(connection);
        logger.error("Cannot watch global keys: the X server lacks XInput 2");
        return nullptr;
    }
    std::unique_ptr<XInputGlobalKeyMonitor> monitor(
        new XInputGlobalKeyMonitor(connection, *opcode));
    if (!monitor->selectRawKeyPresses()) {
        logger.error("Cannot watch global keys: the X server refused raw key events");
        return nullptr;
    }
    return monitor;
}

XInputGlobalKeyMonitor::XInputGlobalKeyMonitor(xcb_connection_t* connection, quint8 extensionOpcode)
    : connection(connection)
    , extensionOpcode(extensionOpcode) {
    readModifierKeys();
    readHeldKeys();
}

XInputGlobalKeyMonitor::~XInputGlobalKeyMonitor() {
    // The notifier watches the connection's socket: it goes before the socket closes.
    notifier.reset();
    xcb_disconnect(connection);
}

bool XInputGlobalKeyMonitor::selectRawKeyPresses() {
    struct {
        xcb_input_event_mask_t header;
        uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
    for (auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection)); roots.rem;
         xcb_screen_next(&roots)) {
        const xcb_void_cookie_t cookie =
            xcb_input_xi_select_events_checked(connection, roots.data->root, 1, &mask.header);
        if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
            std::free(error);
            return false;
        }
    }
    notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection),
                                                 QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &XInputGlobalKeyMonitor::readEvents);
    // Events read while waiting for the replies above sit in xcb's queue, where the socket
    // notifier would never announce them.
    readEvents();
    return true;
}

void XInputGlobalKeyMonitor::readEvents() {
    while (auto event = takeReply(xcb_poll_for_event(connection))) {
        if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
            continue;
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event.get());
        if (generic->extension != extensionOpcode)
            continue;
        // Raw press and release share one layout.
        const quint32 keycode =
            reinterpret_cast<const xcb_input_raw_key_press_event_t*>(generic)->detail;
        const bool modifier = modifierKeys.contains(keycode);
        if (generic->event_type == XCB_INPUT_RAW_KEY_RELEASE) {
            heldModifierKeys.erase(keycode);
        } else if (generic->event_type == XCB_INPUT_RAW_KEY_PRESS) {
            if (modifier)
                heldModifierKeys.insert(keycode);
            else if (!XcbHotKey::takesKey(keycode, heldModifierState()))
                report({keycode, heldModifiers()});
        }
    }
}

Qt::KeyboardModifiers XInputGlobalKeyMonitor::heldModifiers() const {
    // Raw events carry no modifier state; the held modifier keys, followed in the order the
    // server reports them, give the state each key was pressed in.
    Qt::KeyboardModifiers modifiers;
    for (const quint32 keycode : heldModifierKeys)
        modifiers |= modifierKeys.at(keycode).modifiers;
    return modifiers;
}

std::uint16_t XInputGlobalKeyMonitor::heldModifierState() const {
    std::uint16_t state = 0;
    for (const quint32 keycode : heldModifierKeys)
        state |= modifierKeys.at(keycode).state;
    return state;
}

void XInputGlobalKeyMonitor::readModifierKeys() {
    auto mapping = takeReply(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    if (!mapping)
        return;
    // Rows of the map, in the server's order: Shift, Lock, Control, Mod1 to Mod5; row n is
    // the modifier bit 1 << n. Lock (Caps Lock) and Mod2 (NumLock) are locks, not held.
    const std::map<int, Qt::KeyboardModifiers> rows{
        {0, Qt::ShiftModifier}, {2, Qt::ControlModifier}, {3, Qt::AltModifier},
        {5, Qt::NoModifier},    {6, Qt::MetaModifier},    {7, Qt::NoModifier}};
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perRow = mapping->keycodes_per_modifier;
    for (const auto& [row, modifier] : rows)
        for (int i = 0; i < perRow; ++i)
            if (const xcb_keycode_t keycode = keycodes[row * perRow + i]) {
                ModifierKey& key = modifierKeys[keycode];
                key.modifiers |= modifier;
                key.state |= static_cast<std::uint16_t>(1u << row);
            }
}

void XInputGlobalKeyMonitor::readHeldKeys() {
    auto keymap =
        takeReply(xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
    if (!keymap)
        return;
    for (const auto& [keycode, modifier] : modifierKeys)
        if (keymap->keys[keycode / 8] & (1u << (keycode % 8)))
            heldModifierKeys.insert(keycode);
}
