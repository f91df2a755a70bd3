// Watches an X server for the moments a user would see: pointer buttons and keys going down
// or up anywhere, and top-level windows of one application being mapped, unmapped and
// embedded in a tray. Prints one line per moment, with the wall clock in microseconds and the
// CPU time the window's process has used so far, so a script can take differences.
//
//   shell-xwatch [--class NAME] [--pid PID]
//
// NAME is matched, ignoring case, against either part of a window's WM_CLASS (default
// "pixaloom"). Button and key lines carry the CPU time of PID, or of the last process whose
// window was seen. Lines:
//   <us> press|release <button> pid=<pid> cpu_us=<us>
//   <us> key <keycode> pid=<pid> cpu_us=<us>
//   <us> map|unmap|reparent|embedded 0x<window> <w>x<h>+<x>+<y> or=<0|1> pid=<pid>
//        cpu_us=<us> name=<title>
// "embedded" is the tray icon shown in its tray: mapped after it was reparented away from the
// root window.
#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> take(T* reply) {
    return Reply<T>(reply, &std::free);
}

long long wallMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// On-CPU time of every running thread of a process, in microseconds (threads that have ended
// no longer count); -1 when the process is gone.
long long cpuMicroseconds(long pid) {
    if (pid <= 0)
        return -1;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    long long total = 0;
    bool found = false;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        long long nanoseconds = 0;
        if (schedstat >> nanoseconds) {
            total += nanoseconds;
            found = true;
        }
    }
    return found ? total / 1000 : -1;
}

std::string lowered(std::string text) {
    std::ranges::transform(text, text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

class Watcher {
public:
    Watcher(xcb_connection_t* connection, std::string className, long pid)
        : connection(connection)
        , root(xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root)
        , className(lowered(std::move(className)))
        , watchedPid(pid) {
        pidAtom = atom("_NET_WM_PID");
        nameAtom = atom("_NET_WM_NAME");
        utf8Atom = atom("UTF8_STRING");
    }

    bool selectEvents() {
        const uint32_t substructure = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &substructure);
        const xcb_query_extension_reply_t* xinput =
            xcb_get_extension_data(connection, &xcb_input_id);
        if (!xinput || !xinput->present)
            return false;
        xinputOpcode = xinput->major_opcode;
        // From XInput 2.1 on, raw events come while another client holds a grab: the press
        // that starts a drag grabs the pointer for the window under it.
        auto version = take(xcb_input_xi_query_version_reply(
            connection, xcb_input_xi_query_version(connection, 2, 2), nullptr));
        if (!version || version->major_version < 2 ||
            (version->major_version == 2 && version->minor_version < 1))
            return false;
        struct {
            xcb_input_event_mask_t header;
            uint32_t bits;
        } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
               XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
                   XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE |
                   XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS};
        auto error = take(xcb_request_check(
            connection, xcb_input_xi_select_events_checked(connection, root, 1, &mask.header)));
        return !error;
    }

    void run() {
        std::printf("ready\n");
        std::fflush(stdout);
        while (auto event = take(xcb_wait_for_event(connection))) {
            // Taken first: reading the window's properties below costs round trips.
            const long long at = wallMicroseconds();
            handle(*event, at);
            std::fflush(stdout);
        }
    }

private:
    void handle(const xcb_generic_event_t& event, long long at) {
        // A client that hides a window also tells the root window so itself: the server's
        // own report is the one that counts.
        const bool synthetic = event.response_type & 0x80;
        switch (event.response_type & 0x7f) {
        case XCB_GE_GENERIC:
            return handleInput(reinterpret_cast<const xcb_ge_generic_event_t&>(event), at);
        case XCB_MAP_NOTIFY: {
            const auto& map = reinterpret_cast<const xcb_map_notify_event_t&>(event);
            // Our own selection on a reparented icon reports its map to the icon itself.
            const bool embedded = map.event == map.window && trayIcons.contains(map.window);
            return report(embedded ? "embedded" : "map", map.window, map.override_redirect, at);
        }
        case XCB_UNMAP_NOTIFY: {
            const auto& unmap = reinterpret_cast<const xcb_unmap_notify_event_t&>(event);
            if (unmap.event == root && !synthetic && shown.contains(unmap.window))
                report("unmap", unmap.window, false, at);
            return;
        }
        case XCB_DESTROY_NOTIFY:
            shown.erase(reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window);
            return;
        case XCB_REPARENT_NOTIFY: {
            const auto& reparent = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
            if (reparent.event == root && reparent.parent != root)
                watchTrayIcon(reparent.window, reparent.override_redirect, at);
            return;
        }
        default:
            return;
        }
    }

    void handleInput(const xcb_ge_generic_event_t& event, long long at) {
        if (event.extension != xinputOpcode)
            return;
        // Raw button and key events share one layout.
        const auto& raw = reinterpret_cast<const xcb_input_raw_button_press_event_t&>(event);
        const char* kind = event.event_type == XCB_INPUT_RAW_BUTTON_PRESS     ? "press"
                           : event.event_type == XCB_INPUT_RAW_BUTTON_RELEASE ? "release"
                           : event.event_type == XCB_INPUT_RAW_KEY_PRESS      ? "key"
                                                                              : nullptr;
        if (!kind)
            return;
        const long pid = watchedPid > 0 ? watchedPid : lastPid;
        std::printf("%lld %s %u pid=%ld cpu_us=%lld\n", at, kind, raw.detail, pid,
                    cpuMicroseconds(pid));
    }

    // The icon's own map comes after the tray has taken it in; if it came before we asked
    // for it, the icon is shown already.
    void watchTrayIcon(xcb_window_t window, bool overrideRedirect, long long at) {
        if (!matches(window))
            return;
        report("reparent", window, overrideRedirect, at);
        trayIcons.insert(window);
        const uint32_t structure = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &structure);
        auto attributes = take(xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, window), nullptr));
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
            report("embedded", window, overrideRedirect, wallMicroseconds());
    }

    // A window being hidden may be gone before its properties are read: it is reported
    // under what was read when it was shown.
    void report(const char* kind, xcb_window_t window, bool overrideRedirect, long long at) {
        if (!shown.contains(window)) {
            if (!matches(window))
                return;
            shown[window] = {windowPid(window), windowName(window)};
        }
        const auto& [pid, name] = shown[window];
        if (pid > 0)
            lastPid = pid;
        int x = 0, y = 0, width = 0, height = 0;
        if (auto geometry = take(xcb_get_geometry_reply(
                connection, xcb_get_geometry(connection, window), nullptr))) {
            x = geometry->x;
            y = geometry->y;
            width = geometry->width;
            height = geometry->height;
        }
        std::printf("%lld %s 0x%x %dx%d+%d+%d or=%d pid=%ld cpu_us=%lld name=%s\n", at, kind,
                    window, width, height, x, y, overrideRedirect ? 1 : 0, pid,
                    cpuMicroseconds(pid), name.c_str());
    }

    bool matches(xcb_window_t window) {
        const std::string wmClass = lowered(property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING));
        // Instance and class, each ended by a NUL.
        const std::string instance = wmClass.substr(0, wmClass.find('\0'));
        const std::string name =
            instance.size() < wmClass.size() ? wmClass.substr(instance.size() + 1) : std::string();
        return instance == className || name.starts_with(className);
    }

    long windowPid(xcb_window_t window) {
        const std::string value = property(window, pidAtom, XCB_ATOM_CARDINAL);
        if (value.size() < 4)
            return -1;
        uint32_t pid = 0;
        std::memcpy(&pid, value.data(), 4);
        return pid;
    }

    std::string windowName(xcb_window_t window) {
        std::string name = property(window, nameAtom, utf8Atom);
        if (name.empty())
            name = property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
        std::ranges::replace(name, '\n', ' ');
        return name;
    }

    std::string property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
        auto reply = take(xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, name, type, 0, 256), nullptr));
        if (!reply)
            return {};
        return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                           xcb_get_property_value_length(reply.get()));
    }

    xcb_atom_t atom(const char* name) {
        auto reply = take(xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr));
        return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    }

    xcb_connection_t* connection;
    xcb_window_t root;
    std::string className;
    long watchedPid;
    long lastPid = -1;
    uint8_t xinputOpcode = 0;
    xcb_atom_t pidAtom = XCB_ATOM_NONE;
    xcb_atom_t nameAtom = XCB_ATOM_NONE;
    xcb_atom_t utf8Atom = XCB_ATOM_NONE;
    std::set<xcb_window_t> trayIcons;
    // The matching windows seen so far, with their process and title.
    std::map<xcb_window_t, std::pair<long, std::string>> shown;
};

} // namespace

int main(int argc, char** argv) {
    std::string className = "pixaloom";
    long pid = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--class") == 0)
            className = argv[i + 1];
        else if (std::strcmp(argv[i], "--pid") == 0)
            pid = std::strtol(argv[i + 1], nullptr, 10);
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "shell-xwatch: no X server\n");
        return 1;
    }
    Watcher watcher(connection, className, pid);
    if (!watcher.selectEvents()) {
        std::fprintf(stderr, "shell-xwatch: the X server lacks XInput 2.1\n");
        return 1;
    }
    watcher.run();
    xcb_disconnect(connection);
    return 0;
}
