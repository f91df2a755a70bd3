// The system hot key under a real X server: keys typed with xdotool, and other X clients
// holding the same key.

#include "platform/GlobalKeyMonitor.h"
#include "platform/HotKey.h"

#include "ScreenTestTools.h"

#include <QTest>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

constexpr quint32 digit2 = 11;
constexpr Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
constexpr std::uint16_t xCtrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
constexpr std::uint16_t lockVariants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                          XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

// Another X client that grabs keys of its own.
class OtherClient {
public:
    OtherClient()
        : connection(xcb_connect(nullptr, nullptr)) {}
    ~OtherClient() { xcb_disconnect(connection); }

    // 0 when the grab of the digit 2 with `modifiers` is granted, else the X error code.
    int grab(std::uint16_t modifiers) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        xcb_generic_error_t* error = xcb_request_check(
            connection, xcb_grab_key_checked(connection, false, root, modifiers, digit2,
                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        const int code = error ? error->error_code : 0;
        std::free(error);
        return code;
    }

private:
    xcb_connection_t* connection;
};

TEST(HotKeyE2E, FiresOncePerPressOfExactlyItsModifiersWhateverTheLocks) {
    int presses = 0;
    const HotKey::Registration registration =
        HotKey::registerEventHotKey(digit2, ctrlShift, [&] { ++presses; });
    ASSERT_EQ(registration.status, 0);
    ASSERT_NE(registration.hotKey, nullptr);

    // xdotool's "key" leaves NumLock off here; a press and a release switch it.
    const QStringList capsLock{"keydown", "Caps_Lock", "keyup", "Caps_Lock"};
    const QStringList numLock{"keydown", "Num_Lock", "keyup", "Num_Lock"};
    const QStringList tap{"key", "ctrl+shift+2"};
    const struct {
        const char* name;
        QStringList keys;
        int expected;
    } cases[] = {
        {"a tap", tap, 1},
        {"two taps", {"key", "ctrl+shift+2", "ctrl+shift+2"}, 2},
        {"held while the key repeats",
         {"keydown", "ctrl+shift+2", "sleep", "1.5", "keyup", "ctrl+shift+2"},
         1},
        {"Caps Lock on", capsLock + tap + capsLock, 1},
        {"NumLock on", numLock + tap + numLock, 1},
        {"both locks on", capsLock + numLock + tap + numLock + capsLock, 1},
        {"Ctrl+2", {"key", "ctrl+2"}, 0},
        {"Shift+2", {"key", "shift+2"}, 0},
        {"Ctrl+Shift+3", {"key", "ctrl+shift+3"}, 0},
        {"Ctrl+Alt+Shift+2", {"key", "ctrl+alt+shift+2"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        presses = 0;
        // A last tap that fires for certain arrives after every event of the case, so when
        // it has been handled the case's count is final.
        xdotool(c.keys + tap);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return presses >= c.expected + 1; }, screenTestTimeoutMs));
        EXPECT_EQ(presses, c.expected + 1);
    }
}

TEST(HotKeyE2E, KeysWithMoreModifiersStillReachTheKeyMonitor) {
    const HotKey::Registration registration = HotKey::registerEventHotKey(digit2, ctrlShift, [] {});
    ASSERT_EQ(registration.status, 0);
    std::vector<GlobalKeyMonitor::KeyPress> keys;
    auto monitor = GlobalKeyMonitor::addGlobalMonitorForKeyDown(
        [&](const GlobalKeyMonitor::KeyPress& key) { keys.push_back(key); });

    xdotool({"key", "ctrl+alt+shift+2"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !keys.empty(); }, screenTestTimeoutMs));
    EXPECT_EQ(keys[0].keycode, digit2);
    EXPECT_EQ(keys[0].modifiers, ctrlShift | Qt::AltModifier);
}

// The hot key consumes its chord: the key monitor sees every other chord of the key, and the
// chord itself again once the hot key is gone or while another client holds it.
TEST(HotKeyE2E, TheKeyMonitorLeavesExactlyTheHeldChordToTheHotKey) {
    int presses = 0;
    HotKey::Registration registration =
        HotKey::registerEventHotKey(digit2, ctrlShift, [&] { ++presses; });
    ASSERT_EQ(registration.status, 0);
    std::vector<GlobalKeyMonitor::KeyPress> keys;
    auto monitor = GlobalKeyMonitor::addGlobalMonitorForKeyDown(
        [&](const GlobalKeyMonitor::KeyPress& key) { keys.push_back(key); });
    // Ctrl+Shift+3 is reported in every case: once it is in, the case's keys have been seen.
    const quint32 digit3 = digit2 + 1;
    const auto typed = [&](const QStringList& chords) {
        keys.clear();
        xdotool(QStringList{"key"} + chords + QStringList{"ctrl+shift+3"});
        EXPECT_TRUE(QTest::qWaitFor([&] { return !keys.empty() && keys.back().keycode == digit3; },
                                    screenTestTimeoutMs));
        keys.pop_back();
        return keys;
    };
    const auto reported = [&](const std::vector<GlobalKeyMonitor::KeyPress>& got) {
        std::vector<Qt::KeyboardModifiers> modifiers;
        for (const auto& key : got) {
            EXPECT_EQ(key.keycode, digit2);
            modifiers.push_back(key.modifiers);
        }
        return modifiers;
    };
    const struct {
        const char* name;
        QStringList chords;
        std::vector<Qt::KeyboardModifiers> seen;
        int hotKeyPresses;
    } held[] = {
        {"the hot key's chord", {"ctrl+shift+2"}, {}, 1},
        {"with Alt", {"ctrl+alt+shift+2"}, {ctrlShift | Qt::AltModifier}, 0},
        {"with Super", {"ctrl+super+shift+2"}, {ctrlShift | Qt::MetaModifier}, 0},
        {"Ctrl+2", {"ctrl+2"}, {Qt::ControlModifier}, 0},
        {"the chord between two others",
         {"ctrl+alt+shift+2", "ctrl+shift+2", "shift+2"},
         {ctrlShift | Qt::AltModifier, Qt::ShiftModifier},
         1},
    };
    for (const auto& c : held) {
        SCOPED_TRACE(c.name);
        presses = 0;
        EXPECT_EQ(reported(typed(c.chords)), c.seen);
        EXPECT_TRUE(QTest::qWaitFor([&] { return presses >= c.hotKeyPresses; }, 1000));
        EXPECT_EQ(presses, c.hotKeyPresses);
    }

    // Another client's grab takes the key from the focused client, not from this monitor.
    registration.hotKey.reset();
    OtherClient holder;
    ASSERT_EQ(holder.grab(xCtrlShift), 0);
    EXPECT_EQ(reported(typed({"ctrl+shift+2"})), std::vector<Qt::KeyboardModifiers>{ctrlShift});
}

TEST(HotKeyE2E, ARefusedRegistrationHoldsNoGrab) {
    const struct {
        const char* name;
        quint32 keycode;
        int status;
    } cases[] = {{"the key is taken under NumLock", digit2, XCB_ACCESS},
                 {"keycode 0 would be every key", 0, XCB_VALUE},
                 {"no such keycode", 300, XCB_VALUE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OtherClient holder;
        ASSERT_EQ(holder.grab(xCtrlShift | XCB_MOD_MASK_2), 0);
        const HotKey::Registration registration =
            HotKey::registerEventHotKey(c.keycode, ctrlShift, [] {});
        EXPECT_EQ(registration.status, c.status);
        EXPECT_EQ(registration.hotKey, nullptr);

        // The variants that were granted before the refusal have been given back.
        OtherClient next;
        for (const std::uint16_t lock : lockVariants) {
            if (lock != XCB_MOD_MASK_2) {
                EXPECT_EQ(next.grab(xCtrlShift | lock), 0) << "lock modifiers " << lock;
            }
        }
    }
}

TEST(HotKeyE2E, DestroyingTheHotKeyReleasesTheKey) {
    HotKey::Registration registration = HotKey::registerEventHotKey(digit2, ctrlShift, [] {});
    ASSERT_EQ(registration.status, 0);
    OtherClient other;
    for (const std::uint16_t lock : lockVariants)
        EXPECT_EQ(other.grab(xCtrlShift | lock), XCB_ACCESS) << "lock modifiers " << lock;

    registration.hotKey.reset();
    for (const std::uint16_t lock : lockVariants)
        EXPECT_EQ(other.grab(xCtrlShift | lock), 0) << "lock modifiers " << lock;
}

} // namespace
