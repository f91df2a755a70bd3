// Pixaloom as a user meets it on an X server with a tray: the tray icon starts a capture, a
// dragged area opens the editor, an edit runs against the local edit server, Copy puts the
// result on the clipboard, the menus reach the editor and the settings, and Quit ends it, also
// while an update check runs.
#include "platform/HotKey.h"

#include "../unit/sdk/UpdateFeeds.h"
#include "../unit/sdk/SdkTestSupport.h"
#include "LoopbackHttpServer.h"
#include "RunningApplication.h"
#include "ScreenTestTools.h"
#include "KeyboardLayout.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <iostream>

namespace {

// The menu bar's height as the application draws it: the same Qt, style and fonts here.
int menuBarHeight() {
    QMenuBar bar;
    for (const char* title : {"Pixaloom", "File", "Edit", "Window", "Help"})
        bar.addMenu(QString::fromLatin1(title));
    return bar.sizeHint().height();
}

// Where the editor's toolbar buttons are: the panel is 280 points wide, centred 35 points
// below the top of the editor's view, with six 32-point buttons 8 points apart after 24
// points of margin.
QPoint toolbarButton(const RunningApplication::Window& editor, int index) {
    const int panelLeft = (editor.geometry.width() - 280) / 2;
    const int viewTop = menuBarHeight();
    return editor.geometry.topLeft() + QPoint(panelLeft + 24 + 16 + index * 40, viewTop + 35 + 18);
}
enum ToolbarIndex { editButton = 0, undoButton, redoButton, copyButton };

void click(QPoint at, int button = 1) {
    xdo({"mousemove", QString::number(at.x()), QString::number(at.y())});
    QTest::qWait(50);
    xdo({"click", QString::number(button)});
}

// A drag that keeps the button down at its end.
void pressAndDrag(QPoint from, QPoint to) {
    xdo({"mousemove", QString::number(from.x()), QString::number(from.y())});
    xdo({"mousedown", "1"});
    for (int step = 1; step <= 5; ++step) {
        const QPoint at = from + (to - from) * step / 5;
        xdo({"mousemove", QString::number(at.x()), QString::number(at.y())});
        QTest::qWait(20);
    }
}

void drag(QPoint from, QPoint to) {
    pressAndDrag(from, to);
    xdo({"mouseup", "1"});
}

QColor inverted(QRgb colour) {
    return QColor(255 - qRed(colour), 255 - qGreen(colour), 255 - qBlue(colour));
}

bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
           std::abs(a.blue() - b.blue()) <= 2;
}

// The capture window covers the whole screen.
bool isCaptureWindow(const RunningApplication::Window& window) {
    return window.geometry.width() >= 1920;
}

bool isEditorWindow(const RunningApplication::Window& window) {
    return window.name == "Pixaloom" && window.geometry.width() >= 400 &&
           window.geometry.width() < 1920;
}

// The four quadrants of the known colours in an image of the dragged area, which is centred
// on the colours' middle.
bool showsQuadrants(const QImage& image, const std::function<QColor(QRgb)>& expected) {
    const int w = image.width(), h = image.height();
    return near(image.pixelColor(w / 4, h / 4), expected(KnownColours::topLeft)) &&
           near(image.pixelColor(3 * w / 4, h / 4), expected(KnownColours::topRight)) &&
           near(image.pixelColor(w / 4, 3 * h / 4), expected(KnownColours::bottomLeft)) &&
           near(image.pixelColor(3 * w / 4, 3 * h / 4), expected(KnownColours::bottomRight));
}

struct Pixaloom : ::testing::Test {
    void SetUp() override {
        colours.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&colours));
        app = std::make_unique<RunningApplication>(true, info);
        ASSERT_TRUE(app->trayIcon());
    }
    void TearDown() override {
        if (HasFailure()) {
            const QString picture = QDir::temp().filePath(
                QStringLiteral("pixaloom-e2e-%1.png")
                    .arg(::testing::UnitTest::GetInstance()->current_test_info()->name()));
            QGuiApplication::primaryScreen()->grabWindow(0).save(picture);
            std::cerr << "The screen at the failure: " << picture.toStdString() << '\n';
        }
        app.reset();
        xdo({"mousemove", "960", "900"});
    }

    void leftClickTray() { click(app->trayIcon()->geometry.center()); }

    // Tray click, then a drag over the middle of the colours: the editor that opens.
    RunningApplication::Window captureColours() {
        leftClickTray();
        return dragOverColours();
    }

    // A drag over the middle of the colours in the capture window that is opening.
    RunningApplication::Window dragOverColours() {
        EXPECT_TRUE(app->waitForWindow(isCaptureWindow)) << "no capture window";
        QTest::qWait(200);
        const QPoint middle = colours.geometry().center();
        drag(middle - QPoint(100, 80), middle + QPoint(100, 80));
        auto editor = app->waitForWindow(isEditorWindow);
        EXPECT_TRUE(editor) << "no editor window";
        QTest::qWait(600); // the toolbar's appearance
        return editor.value_or(RunningApplication::Window{});
    }

    // Opens the prompt popover from the toolbar's edit button and sends `prompt` with Return.
    void sendEdit(const RunningApplication::Window& editor, const QString& prompt) {
        click(toolbarButton(editor, editButton));
        QTest::qWait(300);
        xdo({"type", "--delay", "20", prompt});
        xdo({"key", "Return"});
    }

    // Waits until the editor's image (centred in the view below the toolbar) looks so.
    bool editorShows(const RunningApplication::Window& editor,
                     const std::function<QColor(QRgb)>& expected) {
        return QTest::qWaitFor(
            [&] {
                const QRect area = editor.geometry;
                const QPoint centre = area.center() + QPoint(0, 30);
                const QImage shot = QGuiApplication::primaryScreen()
                                        ->grabWindow(0, centre.x() - 100, centre.y() - 80, 200, 160)
                                        .toImage();
                return showsQuadrants(shot, expected);
            },
            15000);
    }

    KnownColours colours{QRect(500, 300, 640, 480)};
    // Values of the application's Info file beside the edit server's URL.
    QVariantMap info;
    std::unique_ptr<RunningApplication> app;
};

TEST_F(Pixaloom, FromTheTrayToAnEditedImageOnTheClipboardAndBackThroughTheMenu) {
    const auto editor = captureColours();
    ASSERT_FALSE(editor.id.isEmpty());
    EXPECT_TRUE(editorShows(editor, [](QRgb c) { return QColor(c); }));

    sendEdit(editor, "invert it");
    ASSERT_TRUE(app->waitForLog("Sending edit request with prompt: invert it, theme: None"))
        << app->log().toStdString();
    ASSERT_TRUE(editorShows(editor, inverted)) << app->log().toStdString();

    // The loading overlay fades out for 0.2 s; the toolbar takes clicks again after it.
    QTest::qWait(400);
    click(toolbarButton(editor, copyButton));
    const QImage pasted = waitForClipboardImage();
    ASSERT_FALSE(pasted.isNull()) << app->log().toStdString();
    ASSERT_EQ(pasted.size(), QSize(200, 160));
    // Every pixel is the inverse of the screen under the dragged area.
    const QPoint origin = colours.geometry().center() - QPoint(100, 80);
    int wrong = 0;
    for (int y = 0; y < pasted.height(); ++y)
        for (int x = 0; x < pasted.width(); ++x)
            wrong += pasted.pixelColor(x, y) !=
                     inverted(colours.colourAt(QPointF(origin) + QPointF(x + 0.5, y + 0.5)));
    EXPECT_EQ(wrong, 0);

    // Undo and redo come through the menu's shortcuts to the focused editor.
    xdo({"windowactivate", "--sync", editor.id});
    xdo({"key", "ctrl+z"});
    EXPECT_TRUE(editorShows(editor, [](QRgb c) { return QColor(c); }));
    xdo({"key", "ctrl+shift+z"});
    EXPECT_TRUE(editorShows(editor, inverted));

    xdo({"key", "ctrl+q"});
    EXPECT_EQ(app->waitForExit(), 0);
    EXPECT_FALSE(app->log().contains("Sanitizer")) << app->log().toStdString();
    EXPECT_FALSE(app->log().contains("runtime error")) << app->log().toStdString();
}

TEST_F(Pixaloom, AnEditServerThatHasGoneEndsInAnAlertAndTheEditorStaysUsable) {
    const auto editor = captureColours();
    ASSERT_FALSE(editor.id.isEmpty());
    app->stopEditServer();
    sendEdit(editor, "anything");
    const auto alert = app->waitForWindow([](auto& w) { return w.name == "Error"; });
    ASSERT_TRUE(alert) << app->log().toStdString();
    xdo({"windowactivate", "--sync", alert->id});
    xdo({"key", "Return"});
    EXPECT_TRUE(app->waitForNoWindow([](auto& w) { return w.name == "Error"; }));
    // The capture is still there, and the editor still answers its keys.
    EXPECT_TRUE(editorShows(editor, [](QRgb c) { return QColor(c); }));
    xdo({"windowactivate", "--sync", editor.id});
    xdo({"key", "Escape"});
    EXPECT_TRUE(app->waitForNoWindow([&editor](auto& w) { return w.id == editor.id; }));
    EXPECT_TRUE(app->isRunning());
}

TEST_F(Pixaloom, AStartWhileRunningEndsAndTheRunningOneStartsACapture) {
    EXPECT_EQ(app->startAgain(), 0);
    EXPECT_TRUE(app->waitForWindow(isCaptureWindow));
    const auto all = app->windows();
    EXPECT_EQ(
        std::count_if(all.begin(), all.end(), [](auto& w) { return w.geometry.width() <= 64; }), 1)
        << "a second tray icon";
    xdo({"key", "Escape"});
}

TEST_F(Pixaloom, AStartThatTheRunningOneDoesNotAnswerEndsWithStatus1) {
    app->signal(SIGSTOP);
    EXPECT_EQ(app->startAgain(), 1);
    app->signal(SIGCONT);
    EXPECT_TRUE(app->isRunning());
}

// The overlay covers the tray, so during a capture the tray icon can be clicked only while the
// overlay is off the screen for the grab that follows a selection: a few tens of milliseconds,
// in which a second start can come too. The selection goes to the editor first; what was asked
// for meanwhile comes after it or not at all: a second start opens a capture, a tray click
// does nothing while a capture counts as running (one the tray began does).
TEST_F(Pixaloom, ACaptureAskedForWhileTheSelectionIsReadNeverCostsTheSelection) {
    enum class Road { tray, hotKey };
    enum class Request { trayClick, secondStart };
    const struct {
        const char* name;
        Road capture;
        Request request;
        bool newCapture;
    } cases[] = {
        {"a second start in a tray capture", Road::tray, Request::secondStart, true},
        {"a second start in a hot-key capture", Road::hotKey, Request::secondStart, true},
        {"a tray click in a tray capture", Road::tray, Request::trayClick, false},
        {"a tray click in a hot-key capture", Road::hotKey, Request::trayClick, true},
    };
    const auto icon = app->trayIcon();
    ASSERT_TRUE(icon);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.capture == Road::tray) {
            leftClickTray();
        } else {
            colours.activateWindow();
            xdo({"windowfocus", "--sync", QString::number(colours.winId())});
            xdo({"key", "ctrl+shift+2"});
        }
        const auto selecting = app->waitForWindow(isCaptureWindow);
        ASSERT_TRUE(selecting);
        if (c.request == Request::secondStart)
            ASSERT_TRUE(app->startAgainHeld());
        QTest::qWait(200);
        const QPoint middle = colours.geometry().center();
        pressAndDrag(middle - QPoint(100, 80), middle + QPoint(100, 80));

        // Released from here, to act the moment the overlay leaves the screen.
        ASSERT_TRUE(XServer::pressButton(false));
        QElapsedTimer sinceHidden;
        QDeadlineTimer deadline(5000);
        while (isMappedOnX(selecting->id.toULong()) && !deadline.hasExpired()) {
        }
        sinceHidden.start();
        ASSERT_FALSE(deadline.hasExpired()) << "the overlay never left the screen";
        if (c.request == Request::trayClick) {
            ASSERT_TRUE(XServer::movePointer(icon->geometry.center()));
            while (XServer::windowUnderPointer() != icon->id.toULong() &&
                   sinceHidden.elapsed() < 30) {
            }
            ASSERT_EQ(XServer::windowUnderPointer(), icon->id.toULong())
                << "the click would not reach the tray icon";
            ASSERT_TRUE(XServer::pressButton(true));
            ASSERT_TRUE(XServer::pressButton(false));
        } else {
            ASSERT_TRUE(app->deliverHeldStart());
        }
        // Well within the grab's wait of 50 ms, so the request came during it.
        ASSERT_LT(sinceHidden.elapsed(), 30);
        if (c.request == Request::secondStart) {
            EXPECT_EQ(app->waitForHeldStart(), 0);
        }

        const auto editor = app->waitForWindow(isEditorWindow);
        ASSERT_TRUE(editor) << "the selection was thrown away";
        const auto next = app->waitForWindow(isCaptureWindow, c.newCapture ? 3000 : 500);
        EXPECT_EQ(next.has_value(), c.newCapture);
        if (next) {
            EXPECT_NE(next->id, selecting->id);
            xdo({"key", "Escape"});
            EXPECT_TRUE(app->waitForNoWindow(isCaptureWindow));
        }
        EXPECT_TRUE(editorShows(*editor, [](QRgb colour) { return QColor(colour); }));
        xdo({"windowactivate", "--sync", editor->id});
        xdo({"key", "Escape"});
        EXPECT_TRUE(app->waitForNoWindow([&](auto& w) { return w.id == editor->id; }));
    }
}

TEST_F(Pixaloom, TheTrayMenuOpensTheSettingsWhoseCheckboxTurnsOnAutoCopy) {
    click(app->trayIcon()->geometry.center(), 3);
    QTest::qWait(400);
    // Take Screenshot, Settings, Quit: the second item.
    xdo({"key", "Down", "Down", "Return"});
    const auto settings = app->waitForWindow([](auto& w) { return w.name == "Pixaloom Settings"; });
    ASSERT_TRUE(settings);
    click(settings->geometry.topLeft() + QPoint(28, menuBarHeight() + 28));
    ASSERT_TRUE(app->waitForLog("Auto-copy setting changed to: true"));
    EXPECT_TRUE(
        QSettings(app->settingsFile(), QSettings::IniFormat).value("PixaloomAutoCopy").toBool());

    // The next editor copies its capture by itself (the tray click closes the settings).
    const auto editor = captureColours();
    ASSERT_FALSE(editor.id.isEmpty());
    EXPECT_TRUE(app->waitForNoWindow([](auto& w) { return w.name == "Pixaloom Settings"; }));
    const QImage pasted = waitForClipboardImage();
    ASSERT_FALSE(pasted.isNull()) << app->log().toStdString();
    EXPECT_TRUE(showsQuadrants(pasted, [](QRgb c) { return QColor(c); }));

    // The menu's third item quits.
    click(app->trayIcon()->geometry.center(), 3);
    QTest::qWait(400);
    xdo({"key", "Up", "Return"});
    EXPECT_EQ(app->waitForExit(), 0);
}

// A logout, `kill` or Ctrl+C in a terminal, with a crash-report sink that sees how each run's
// crash-reporting session ended, an analytics sink that gets each run's queued events when it
// quits, and an edit server of the test's own.
struct Termination : Pixaloom {
    Termination() {
        info.insert("PixaloomCrashDSN", SdkTestSupport::dsnFor(crashSink));
        info.insert("PixaloomAnalyticsKey", "phc_e2e");
        info.insert("PixaloomAnalyticsHost", analyticsSink.baseUrl());
        info.insert("PixaloomServerURL", editServer.baseUrl());
    }
    int launchEventsSent() const {
        const auto events = SdkTestSupport::batchedEvents(analyticsSink.accepted());
        return int(std::ranges::count_if(events, [](const QJsonObject& event) {
            return event.value("event") == "app_launched";
        }));
    }
    QStringList sessionStatuses() const {
        using namespace SdkTestSupport;
        QStringList statuses;
        for (const auto& session : items(envelopes(crashSink.accepted()), "session"))
            statuses << session.value("status").toString();
        return statuses;
    }
    int startMessages() const {
        using namespace SdkTestSupport;
        const auto events = items(envelopes(crashSink.accepted()), "event");
        return int(std::ranges::count_if(events, [](const QJsonObject& event) {
            return valueAt(event, "message/formatted") == "Pixaloom application started";
        }));
    }
    // Quits as Quit does: status 0, the session closed as exited, the launch event sent (it
    // waits for a batch otherwise), the lock and socket gone.
    void expectQuitOn(int number) {
        const auto exited = sessionStatuses().count("exited");
        const int launchEvents = launchEventsSent();
        app->signal(number);
        EXPECT_EQ(app->waitForExit(), 0) << app->log().toStdString();
        EXPECT_TRUE(
            LoopbackHttpServer::waitUntil([&] { return launchEventsSent() == launchEvents + 1; }));
        EXPECT_TRUE(LoopbackHttpServer::waitUntil([&] {
            return sessionStatuses().count("exited") == exited + 1;
        })) << sessionStatuses().join(' ').toStdString();
        const QStringList left = QDir(app->runtimeFolder()).entryList(QDir::Files | QDir::System);
        EXPECT_TRUE(left.isEmpty()) << "left behind: " << left.join(' ').toStdString();
    }
    // The next start finds no session left open by an earlier run.
    void expectNoAbnormalSessionAtTheNextStart() {
        const int started = startMessages();
        app->relaunch();
        EXPECT_TRUE(LoopbackHttpServer::waitUntil([&] { return startMessages() == started + 1; }));
        EXPECT_FALSE(sessionStatuses().contains("abnormal"))
            << sessionStatuses().join(' ').toStdString();
    }

    LoopbackHttpServer crashSink{std::chrono::minutes(5)};
    LoopbackHttpServer analyticsSink{std::chrono::minutes(5)};
    LoopbackHttpServer editServer{std::chrono::minutes(5)};
};

TEST_F(Termination, EachSignalAtRestQuitsAsQuitDoes) {
    int runs = 0;
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sigabbrev_np(number));
        if (runs++ > 0)
            app->relaunch();
        ASSERT_TRUE(
            LoopbackHttpServer::waitUntil([&] { return sessionStatuses().count("ok") == runs; }));
        expectQuitOn(number);
    }
    expectNoAbnormalSessionAtTheNextStart();
}

TEST_F(Termination, AnEditWaitingForItsServerOrItsErrorAlertQuitsAsQuitDoes) {
    const struct {
        const char* situation;
        LoopbackHttpServer::Reply reply;
        std::function<bool(RunningApplication&)> reached;
        int signal;
    } cases[] = {
        {"mid-edit",
         {.delay = std::chrono::seconds(60)},
         [](RunningApplication& app) { return app.waitForLog("Sending request to edit endpoint"); },
         SIGTERM},
        {"with the error alert open",
         {.status = 500},
         [](RunningApplication& app) {
             return app.waitForWindow([](auto& w) { return w.name == "Error"; }).has_value();
         },
         SIGINT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        if (!app->isRunning())
            app->relaunch();
        editServer.setDefaultReply(c.reply);
        const auto editor = captureColours();
        ASSERT_FALSE(editor.id.isEmpty());
        sendEdit(editor, "anything");
        ASSERT_TRUE(c.reached(*app)) << app->log().toStdString();
        expectQuitOn(c.signal);
    }
    expectNoAbnormalSessionAtTheNextStart();
}

TEST_F(Pixaloom, OnAFrenchKeyboardCtrlAtTheZPositionUndoesAndDoesNotCloseTheEditor) {
    const auto editor = captureColours();
    ASSERT_FALSE(editor.id.isEmpty());
    sendEdit(editor, "invert it");
    ASSERT_TRUE(editorShows(editor, inverted)) << app->log().toStdString();
    QTest::qWait(400);

    // AZERTY has W where US keyboards have Z: Ctrl with it is the editor's undo, not the
    // menu's Close Window.
    KeyboardLayout azerty(QStringLiteral("fr"));
    xdo({"windowactivate", "--sync", editor.id});
    xdo({"key", "ctrl+w"});
    EXPECT_TRUE(editorShows(editor, [](QRgb c) { return QColor(c); }));
    xdo({"key", "ctrl+shift+w"});
    EXPECT_TRUE(editorShows(editor, inverted));
    EXPECT_FALSE(app->log().contains("Preparing edit window for close"));
    EXPECT_TRUE(app->waitForWindow([&editor](auto& w) { return w.id == editor.id; }, 1000));
}

} // namespace

namespace {

// Ctrl+Shift+2 typed while another X client (the colours' window) has the keyboard focus.
// Analytics is on, and its events wait in the queue: the host takes no connection.
struct HotKeyRoad : Pixaloom {
    HotKeyRoad() {
        analyticsHost.refuseConnections();
        info = {{"PixaloomAnalyticsKey", "phc_e2e"},
                {"PixaloomAnalyticsHost", analyticsHost.baseUrl()}};
    }
    void focusAnotherClient() {
        colours.activateWindow();
        xdo({"windowfocus", "--sync", QString::number(colours.winId())});
        QTest::qWait(100);
    }
    int captureWindowCount() const {
        return std::ranges::count_if(app->windows(), isCaptureWindow);
    }
    bool captureOpens() { return app->waitForWindow(isCaptureWindow, 5000).has_value(); }
    int capturesStarted() const {
        return app->queuedAnalyticsEvents().count(QStringLiteral("screenshot_capture_started"));
    }

    LoopbackHttpServer analyticsHost;
};

// The hot key takes Ctrl+Shift+2 for itself: its capture sends no event and leaves the tray
// icon free to start one. With more modifiers the key goes to the key monitor, whose capture
// is counted and keeps the tray icon from starting another.
TEST_F(HotKeyRoad, OpensOneCaptureWindowWithOrWithoutAltAndNotForCtrl2) {
    EXPECT_TRUE(app->waitForLog("Successfully registered global shortcut"));
    const struct {
        const char* keys;
        bool opens;
        int started;
        bool trayClickStartsAnother;
    } cases[] = {{"ctrl+shift+2", true, 0, true},
                 {"ctrl+alt+shift+2", true, 1, false},
                 {"ctrl+2", false, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        const int startedBefore = capturesStarted();
        focusAnotherClient();
        xdo({"key", c.keys});
        if (!c.opens) {
            QTest::qWait(500);
            EXPECT_EQ(captureWindowCount(), 0);
            EXPECT_EQ(capturesStarted(), startedBefore);
            continue;
        }
        ASSERT_TRUE(captureOpens());
        // Both roads, had they both been taken, would have acted by now.
        QTest::qWait(300);
        EXPECT_EQ(captureWindowCount(), 1);
        EXPECT_EQ(capturesStarted(), startedBefore + c.started);

        // The capture window covers the tray: the click goes to the icon's own window.
        const QString first = app->captureWindow()->id;
        xdo({"click", "--window", app->trayIcon()->id, "1"});
        const bool replaced = QTest::qWaitFor(
            [&] { return app->captureWindow() && app->captureWindow()->id != first; }, 1000);
        EXPECT_EQ(replaced, c.trayClickStartsAnother);
        EXPECT_EQ(captureWindowCount(), 1);
        EXPECT_EQ(capturesStarted(), startedBefore + c.started + (replaced ? 1 : 0));
        xdo({"key", "Escape"});
        EXPECT_TRUE(app->waitForNoWindow(isCaptureWindow));
    }
}

TEST_F(HotKeyRoad, HoldingTheKeysOrPressingThemAgainKeepsTheSameWindow) {
    focusAnotherClient();
    xdo({"keydown", "ctrl+shift+2"});
    QTest::qWait(1500);
    xdo({"keyup", "ctrl+shift+2"});
    ASSERT_TRUE(captureOpens());
    QTest::qWait(300);
    EXPECT_EQ(captureWindowCount(), 1);
    const QString first = app->captureWindow()->id;
    xdo({"key", "ctrl+shift+2"});
    QTest::qWait(300);
    EXPECT_EQ(captureWindowCount(), 1);
    EXPECT_EQ(app->captureWindow()->id, first);
    xdo({"key", "Escape"});
}

TEST_F(HotKeyRoad, FromTheHotKeyToTheClipboard) {
    focusAnotherClient();
    xdo({"key", "ctrl+shift+2"});
    const auto editor = dragOverColours();
    ASSERT_FALSE(editor.id.isEmpty());
    click(toolbarButton(editor, copyButton));
    const QImage pasted = waitForClipboardImage();
    ASSERT_FALSE(pasted.isNull()) << app->log().toStdString();
    EXPECT_TRUE(showsQuadrants(pasted, [](QRgb c) { return QColor(c); }));
}

// Another X client holds Ctrl+Shift+2 before Pixaloom starts.
struct TakenHotKey : ::testing::Test {
    void SetUp() override {
        colours.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&colours));
        taken = HotKey::registerEventHotKey(11, Qt::ControlModifier | Qt::ShiftModifier, [] {});
        ASSERT_EQ(taken.status, 0);
        app = std::make_unique<RunningApplication>();
    }
    KnownColours colours{QRect(500, 300, 640, 480)};
    HotKey::Registration taken;
    std::unique_ptr<RunningApplication> app;
};

TEST_F(TakenHotKey, RegistrationFailsWithTheXErrorAndTheMonitorStillOpensTheCapture) {
    EXPECT_TRUE(app->waitForLog("Failed to register hotkey: 10"));
    EXPECT_FALSE(app->log().contains("Successfully registered global shortcut"));
    colours.activateWindow();
    xdo({"windowfocus", "--sync", QString::number(colours.winId())});
    xdo({"key", "ctrl+shift+2"});
    EXPECT_TRUE(app->waitForWindow(isCaptureWindow, 5000).has_value());
    xdo({"key", "Escape"});
}

} // namespace

namespace {

using UpdateFeeds::xmlReply;

// Pixaloom 1.5 (build 15) with an update feed of its own on 127.0.0.1.
struct Updates : Pixaloom {
    void SetUp() override {}

    void start() {
        app.reset();
        app = std::make_unique<RunningApplication>(
            true, QVariantMap{{"SUFeedURL", feed.baseUrl() + QStringLiteral("/appcast.xml")},
                              {"CFBundleVersion", "15"},
                              {"CFBundleShortVersionString", "1.5"}});
        ASSERT_TRUE(app->trayIcon());
    }

    std::optional<RunningApplication::Window> window(const QString& name, int timeoutMs = 10000) {
        return app->waitForWindow([&](const auto& w) { return w.name == name; }, timeoutMs);
    }
    std::optional<RunningApplication::Window> updateWindow(int timeoutMs = 10000) {
        return window(QStringLiteral("Software Update"), timeoutMs);
    }

    void pressIn(const RunningApplication::Window& window, const QString& keys) {
        xdo({"windowfocus", "--sync", window.id});
        QTest::qWait(100);
        xdo({"key", keys});
    }

    // "Check for Updates..." (Ctrl+U) in the settings window, which the tray menu opens.
    RunningApplication::Window checkForUpdates() {
        auto settings = window(QStringLiteral("Pixaloom Settings"), 0);
        if (!settings) {
            click(app->trayIcon()->geometry.center(), 3);
            QTest::qWait(400);
            xdo({"key", "Down", "Down", "Return"});
            settings = window(QStringLiteral("Pixaloom Settings"));
        }
        EXPECT_TRUE(settings) << "no settings window";
        if (settings)
            pressIn(*settings, QStringLiteral("ctrl+u"));
        return settings.value_or(RunningApplication::Window{});
    }

    LoopbackHttpServer feed{std::chrono::minutes(3)};
};

TEST_F(Updates, TheTrayMenuWorksBesideTheWindowOfAFoundUpdate) {
    feed.setDefaultReply(xmlReply(
        UpdateFeeds::feed(UpdateFeeds::item(QStringLiteral("16"), QStringLiteral("1.6")))));
    start();
    checkForUpdates();
    ASSERT_TRUE(app->waitForLog(QStringLiteral("Found valid update: 1.6")));
    ASSERT_TRUE(updateWindow());

    // The menu's first item, Take Screenshot.
    click(app->trayIcon()->geometry.center(), 3);
    QTest::qWait(400);
    xdo({"key", "Down", "Return"});
    EXPECT_TRUE(app->waitForWindow(isCaptureWindow, 5000)) << "the tray menu did not open";
    xdo({"key", "Escape"});
    EXPECT_TRUE(app->waitForNoWindow(isCaptureWindow));
    EXPECT_TRUE(updateWindow(0)) << "the update window stays open beside";
}

// Whether the updater is reading a feed or still receiving it, Quit (Ctrl+Q) ends the
// application with status 0 at once.
TEST_F(Updates, QuitEndsTheApplicationWhateverTheUpdaterIsDoing) {
    LoopbackHttpServer::Reply trickling =
        xmlReply(UpdateFeeds::feed(UpdateFeeds::item(QStringLiteral("16"), QStringLiteral("1.6"))));
    trickling.bodyPieces = 100;
    trickling.piecePause = std::chrono::milliseconds(200);
    const struct {
        const char* doing;
        LoopbackHttpServer::Reply reply;
        bool arrives; // within the test
    } cases[] = {
        {"reading versions longer than any release", xmlReply(UpdateFeeds::longVersionFeed()),
         true},
        {"receiving a feed that trickles in", trickling, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.doing);
        feed.setDefaultReply(c.reply);
        const std::size_t before = feed.requests().size();
        start();
        const auto settings = checkForUpdates();
        ASSERT_TRUE(updateWindow()) << "no progress window";
        if (c.arrives)
            ASSERT_TRUE(QTest::qWaitFor([&] { return feed.requests().size() > before; }, 5000));
        QTest::qWait(300);
        pressIn(settings, QStringLiteral("ctrl+q"));
        EXPECT_EQ(app->waitForExit(3000), 0) << app->log().toStdString();
        EXPECT_FALSE(app->log().contains(QStringLiteral("QThread: Destroyed")));
    }
}

// Cancel (Escape) in the progress window of a check whose feed has just arrived, then a new
// check: the new one is answered.
TEST_F(Updates, ACheckAfterACancelledOneIsAnswered) {
    feed.enqueue(xmlReply(UpdateFeeds::longVersionFeed()));
    feed.setDefaultReply(xmlReply(
        UpdateFeeds::feed(UpdateFeeds::item(QStringLiteral("16"), QStringLiteral("1.6")))));
    start();
    const auto settings = checkForUpdates();
    ASSERT_TRUE(updateWindow()) << "no progress window";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !feed.requests().empty(); }, 5000));
    // The check may have ended by now and shown its outcome: Escape closes that window too.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            if (const auto shown = updateWindow(0))
                pressIn(*shown, QStringLiteral("Escape"));
            return !updateWindow(0);
        },
        5000));

    pressIn(settings, QStringLiteral("ctrl+u"));
    EXPECT_TRUE(app->waitForLog(QStringLiteral("Found valid update: 1.6"), 8000))
        << app->log().toStdString();
    EXPECT_TRUE(updateWindow());
}

} // namespace
