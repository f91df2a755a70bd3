#include "platform/XInputGlobalKeyMonitor.h"

#include "platform/Logger.h"

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
    // A client must announce the XInput version it speaks before it selects XI2 events.
    auto version = takeReply(xcb_input_xi_query_version_reply(
        connection, xcb_input_xi_query_version(connection, 2, 0), nullptr));
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
}

XInputGlobalKeyMonitor::~XInputGlobalKeyMonitor() {
    delete notifier;
    xcb_disconnect(connection);
}

bool XInputGlobalKeyMonitor::selectRawKeyPresses() {
    struct {
        xcb_input_event_mask_t header;
        uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS};
    for (auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection)); roots.rem;
         xcb_screen_next(&roots)) {
        const xcb_void_cookie_t cookie =
            xcb_input_xi_select_events_checked(connection, roots.data->root, 1, &mask.header);
        if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
            std::free(error);
            return false;
        }
    }
    notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read);
    connect(notifier, &QSocketNotifier::activated, this, &XInputGlobalKeyMonitor::readEvents);
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
        if (generic->extension != extensionOpcode || generic->event_type != XCB_INPUT_RAW_KEY_PRESS)
            continue;
        const auto* press = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(generic);
        report({press->detail, currentModifiers()});
    }
}

Qt::KeyboardModifiers XInputGlobalKeyMonitor::currentModifiers() {
    // Raw events carry no modifier state; the pointer query reports the keyboard's, a moment
    // after the press, which is what a user holding a chord still has down.
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    auto pointer = takeReply(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr));
    if (!pointer)
        return Qt::NoModifier;
    Qt::KeyboardModifiers modifiers;
    modifiers.setFlag(Qt::ShiftModifier, pointer->mask & XCB_MOD_MASK_SHIFT);
    modifiers.setFlag(Qt::ControlModifier, pointer->mask & XCB_MOD_MASK_CONTROL);
    modifiers.setFlag(Qt::AltModifier, pointer->mask & XCB_MOD_MASK_1);
    modifiers.setFlag(Qt::MetaModifier, pointer->mask & XCB_MOD_MASK_4);
    return modifiers;
}
