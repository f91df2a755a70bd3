#include "platform/XcbHotKey.h"

#include "platform/Logger.h"

#include <QMetaObject>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>

namespace {

const Logger logger{"com.app.pixaloom", "HotKey"};

// Lock is Caps Lock; NumLock sits on Mod2 in every common keyboard map.
constexpr std::array<std::uint16_t, 4> lockVariants{0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                                    XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr std::uint16_t lockModifiers = XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2;

// The hot keys whose grabs are all granted, for takesKey().
std::vector<const XcbHotKey*>& heldHotKeys() {
    static std::vector<const XcbHotKey*> held;
    return held;
}

std::uint16_t xModifiers(Qt::KeyboardModifiers modifiers) {
    std::uint16_t mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & Qt::MetaModifier)
        mask |= XCB_MOD_MASK_4;
    return mask;
}

// A keycode outside the server's range would be cut to 8 bits on the wire, and 0 is AnyKey:
// a grab of every key with these modifiers.
bool isKeycodeOfServer(xcb_connection_t* connection, quint32 keycode) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    return keycode >= setup->min_keycode && keycode <= setup->max_keycode;
}

} // namespace

HotKey::Registration
XcbHotKey::registerEventHotKey(quint32 keycode, Qt::KeyboardModifiers modifiers, Handler handler) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        logger.error("Cannot take the hot key: no connection to the X server");
        return {nullptr, noX11Display};
    }
    if (!isKeycodeOfServer(connection, keycode)) {
        xcb_disconnect(connection);
        return {nullptr, XCB_VALUE};
    }
    std::unique_ptr<XcbHotKey> hotKey(new XcbHotKey(connection, static_cast<std::uint8_t>(keycode),
                                                    xModifiers(modifiers), std::move(handler)));
    if (const int status = hotKey->grabAllVariants(); status != 0)
        return {nullptr, status};
    heldHotKeys().push_back(hotKey.get());
    hotKey->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection),
                                                         QSocketNotifier::Read);
    QObject::connect(hotKey->notifier.get(), &QSocketNotifier::activated, hotKey->notifier.get(),
                     [raw = hotKey.get()] { raw->readEvents(); });
    // Events that arrived while the grabs were answered wait in xcb's queue, where the socket
    // notifier would never announce them.
    QMetaObject::invokeMethod(
        hotKey->notifier.get(), [raw = hotKey.get()] { raw->readEvents(); }, Qt::QueuedConnection);
    return {std::move(hotKey), 0};
}

XcbHotKey::XcbHotKey(xcb_connection_t* connection, std::uint8_t keycode, std::uint16_t modifiers,
                     Handler handler)
    : connection(connection)
    , keycode(keycode)
    , modifiers(modifiers)
    , handler(std::move(handler)) {
}

XcbHotKey::~XcbHotKey() {
    std::erase(heldHotKeys(), this);
    // The notifier watches the connection's socket: it goes before the socket closes.
    notifier.reset();
    releaseGrabs();
    xcb_disconnect(connection);
}

bool XcbHotKey::takesKey(quint32 keycode, std::uint16_t state) {
    // The grabs cover every state of the locks; every other modifier must match exactly.
    return std::ranges::any_of(heldHotKeys(), [&](const XcbHotKey* hotKey) {
        return hotKey->keycode == keycode &&
               hotKey->modifiers == (state & static_cast<std::uint16_t>(~lockModifiers));
    });
}

int XcbHotKey::grabAllVariants() {
    // Every grab is sent before any answer is read: one round trip for all of them.
    std::vector<std::pair<Grab, xcb_void_cookie_t>> requests;
    for (auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection)); roots.rem;
         xcb_screen_next(&roots))
        for (const std::uint16_t lock : lockVariants) {
            const Grab grab{roots.data->root, static_cast<std::uint16_t>(modifiers | lock)};
            requests.emplace_back(
                grab, xcb_grab_key_checked(connection, false, grab.root, grab.modifiers, keycode,
                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        }
    int status = 0;
    for (const auto& [grab, cookie] : requests) {
        if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
            if (status == 0)
                status = error->error_code;
            std::free(error);
        } else {
            grabs.push_back(grab);
        }
    }
    // A hot key that misses under Caps Lock or NumLock is no hot key: the caller drops this
    // object, whose destructor gives back the grabs that were granted.
    return status;
}

void XcbHotKey::releaseGrabs() {
    if (grabs.empty())
        return;
    xcb_void_cookie_t last{};
    for (const Grab& grab : grabs)
        last = xcb_ungrab_key_checked(connection, keycode, grab.root, grab.modifiers);
    // Waiting for the last answer means the server has released every grab by the time this
    // returns, so another client can take the key at once.
    std::free(xcb_request_check(connection, last));
    grabs.clear();
}

void XcbHotKey::readEvents() {
    while (auto* event = xcb_poll_for_event(connection)) {
        const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> owned(event, &std::free);
        const auto type = event->response_type & 0x7f;
        if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
            continue;
        // While the grab is active every key of the keyboard comes here, not only ours.
        const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
        if (key->detail != keycode)
            continue;
        if (type == XCB_KEY_PRESS)
            keyPressed(key->time);
        else
            keyReleased(key->time);
    }
}

void XcbHotKey::keyPressed(std::uint32_t time) {
    const bool repeat = lastReleaseTime == time;
    if (!repeat && handler)
        handler();
}

void XcbHotKey::keyReleased(std::uint32_t time) {
    lastReleaseTime = time;
}
