// The application shell with real windows on the offscreen platform: start-up, the window
// bookkeeping of captures, editors and the settings window, and the main menu's routing.
#include "shell/AppDelegate.h"
#include "shell/ScreenCaptureWindow.h"
#include "shell/SettingsWindow.h"

#include "editor/EditViewController.h"
#include "editor/EditWindow.h"
#include "platform/BundleInfo.h"
#include "platform/MainMenu.h"
#include "platform/MainQueue.h"
#include "platform/UserDefaults.h"
#include "sdk/PostHogSDK.h"
#include "sdk/SentryOptions.h"
#include "sdk/SentrySDK.h"

#include "../editor/EditViewControllerInspector.h"
#include "CaptureTestDoubles.h"
#include "LogCapture.h"
#include "SquareFrameLook.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Runs the main queue until nothing more is waiting on it.
void settle() {
    for (int turn = 0; turn < 5; ++turn)
        QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QStringList eventNames() {
    QStringList names;
    for (const auto& event : PostHogSDK::shared().events())
        names << event.name;
    return names;
}

QStringList reportMessages() {
    QStringList messages;
    for (const auto& report : SentrySDK::shared().reports())
        messages << report.message;
    return messages;
}

// What the SDKs had been sent when each widget came into being: a widget is told of its
// creation while it is being made (as a plain widget still), before the code that makes it
// goes on. A later widget at the same address replaces an earlier one.
struct SentAtWidgetCreation : QObject {
    struct Sent {
        QStringList events;
        QStringList messages;
    };
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Create)
            byWidget[watched] = {eventNames(), reportMessages()};
        return false;
    }
    std::map<const QObject*, Sent> byWidget;
};

QAction* menuItem(QMenu* menu, const QString& title) {
    for (QAction* item : menu->actions()) {
        if (item->text() == title)
            return item;
        if (item->menu())
            if (QAction* found = menuItem(item->menu(), title))
                return found;
    }
    return nullptr;
}

struct Shell : ::testing::Test {
    Shell() {
        // The process name titles the application's menu items, as it does in Pixaloom.
        QCoreApplication::setApplicationName(QStringLiteral("Pixaloom"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
        UserDefaults::standard()->clear();
        PostHogSDK::shared().clearEvents();
        delegate = std::make_unique<AppDelegate>();
        delegate->makeCaptureWindow = [] {
            ScriptedGrabbers grabbers{{ScriptedScreenGrabber::solid(Qt::darkCyan)}};
            return std::make_unique<ScreenCaptureWindow>(std::move(grabbers.list));
        };
        delegate->applicationDidFinishLaunching();
        PostHogSDK::shared().clearEvents();
    }
    ~Shell() override {
        delegate.reset();
        settle();
        UserDefaults::standard()->clear();
    }

    // A capture through the road a user takes: the selection, then the hand-off.
    void captureArea(QRectF area) {
        ASSERT_TRUE(delegate->captureWindow);
        delegate->captureWindow->captureSelectedArea(area);
        settle();
    }

    QTemporaryDir settingsFolder;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(Shell, LaunchSendsItsEventAndMessageOnceWithVersionsOrUnknown) {
    struct Case {
        QVariantMap info;
        QString version, build;
        std::optional<QString> release;
    };
    const QString versionKey = BundleInfo::shortVersionKey, buildKey = BundleInfo::versionKey;
    const std::vector<Case> cases{
        {{{versionKey, "2.4.1"}, {buildKey, "77"}}, "2.4.1", "77", "com.app.pixaloom@2.4.1"},
        {{{buildKey, "77"}}, "unknown", "77", std::nullopt},
        {{{versionKey, 3}, {buildKey, QVariantList{}}}, "unknown", "unknown", std::nullopt},
        {{{versionKey, "5.0"}}, "5.0", "unknown", "com.app.pixaloom@5.0"},
    };
    for (const Case& c : cases) {
        BundleInfo::setMainForTesting(BundleInfo(c.info));
        SentryOptions options;
        AppDelegate::configureCrashReporting(options);
        EXPECT_EQ(options.releaseName, c.release);
        EXPECT_TRUE(options.debug && options.sendDefaultPii && options.enableAutoSessionTracking);
        EXPECT_EQ(options.diagnosticLevel, SentryLevel::debug);
        EXPECT_EQ(options.environment, "production");

        PostHogSDK::shared().clearEvents();
        SentrySDK::shared().clearReports();
        AppDelegate launched;
        launched.applicationDidFinishLaunching();
        const auto events = PostHogSDK::shared().events();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].name, "app_launched");
        const AnalyticsProperties expected{{"version", c.version},
                                           {"build", c.build},
                                           {"os_version", QSysInfo::prettyProductName()}};
        EXPECT_EQ(events[0].properties, expected);
        const auto reports = SentrySDK::shared().reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].message, "Pixaloom application started");
        EXPECT_NE(launched.mainMenu(), nullptr);
        EXPECT_NE(launched.updater, nullptr);
        EXPECT_FALSE(QApplication::windowIcon().isNull());
    }
    BundleInfo::setMainForTesting(std::nullopt);
}

// The window icon that launch sets and the tray icon, as they are drawn at each resolution
// they carry: the orange frame, fully opaque on a clear canvas. The tray icon is a 10-point
// frame 2 points wide in its 18 points.
TEST_F(Shell, TheApplicationAndTrayIconsAreTheOrangeFrameOnAClearCanvas) {
    const QColor brandOrange = QColor::fromRgbF(1.0, 92.0 / 255.0, 0.0);
    const struct {
        const char* name;
        QIcon icon;
        int side;
        double margin, band, tolerance;
    } cases[] = {{"application icon", QApplication::windowIcon(), 128, 0.2 * 128, 0.1 * 128, 1},
                 {"tray icon", AppDelegate::statusIcon(), 18, 4, 2, 0}};
    for (const auto& c : cases)
        for (const qreal ratio : {1.0, 2.0}) {
            SCOPED_TRACE(testing::Message() << c.name << " at " << ratio);
            const QImage image = c.icon.pixmap(QSize(c.side, c.side), ratio).toImage();
            ASSERT_EQ(image.size(), QSize(c.side, c.side) * ratio);
            const SquareFrameLook look = SquareFrameLook::of(image, brandOrange);
            EXPECT_TRUE(look.isFrameOf(c.margin * ratio, c.band * ratio, c.tolerance))
                << look.stretches();
            EXPECT_EQ(look.halfTransparent, 0);
            EXPECT_EQ(look.offFrame, 0);
            EXPECT_EQ(look.offColour, 0);
        }
}

TEST_F(Shell, LaunchSendsItsEventAndMessageBeforeTheMainMenuAndTheTrayExist) {
    PostHogSDK::shared().clearEvents();
    SentrySDK::shared().clearReports();
    SentAtWidgetCreation sent;
    qApp->installEventFilter(&sent);
    AppDelegate launched;
    launched.applicationDidFinishLaunching();
    qApp->removeEventFilter(&sent);
    // The tray's menu is made just before the tray icon.
    const struct {
        const char* name;
        QMenu* menu;
    } menus[] = {{"main menu", launched.mainMenu()}, {"tray menu", launched.statusMenu()}};
    for (const auto& [name, menu] : menus) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(sent.byWidget.contains(menu));
        EXPECT_EQ(sent.byWidget[menu].events, QStringList{"app_launched"});
        EXPECT_EQ(sent.byWidget[menu].messages, QStringList{"Pixaloom application started"});
    }
    EXPECT_NE(launched.statusItem, nullptr);
}

TEST_F(Shell, ACaptureOpensTheEditorThenForgetsTheCaptureWindow) {
    delegate->takeScreenshot();
    EXPECT_TRUE(delegate->isCapturingScreen);
    EXPECT_EQ(eventNames(), QStringList{"screenshot_capture_started"});
    ASSERT_TRUE(delegate->captureWindow);
    EXPECT_TRUE(delegate->captureWindow->isVisible());

    captureArea(QRectF(40, 30, 300, 200));
    ASSERT_TRUE(delegate->editWindow);
    EXPECT_TRUE(delegate->editWindow->isVisible());
    EXPECT_FALSE(delegate->captureWindow);
    EXPECT_FALSE(delegate->isCapturingScreen);
    EXPECT_TRUE(delegate->hasOpenWindows);
    const QImage shown =
        EditViewControllerInspector::shown(*delegate->editWindow->editViewController);
    EXPECT_EQ(shown.pixelColor(5, 5), QColor(Qt::darkCyan));

    delegate->editWindow->close();
    settle();
    EXPECT_FALSE(delegate->editWindow);
    EXPECT_FALSE(delegate->hasOpenWindows);
}

TEST_F(Shell, EscapeInTheCaptureForgetsItAndNoWindowStaysOpen) {
    delegate->takeScreenshot();
    QTest::keyClick(delegate->captureWindow.get(), Qt::Key_Escape);
    settle();
    EXPECT_FALSE(delegate->captureWindow);
    EXPECT_FALSE(delegate->isCapturingScreen);
    EXPECT_FALSE(delegate->hasOpenWindows);
}

TEST_F(Shell, ASecondCaptureReplacesTheEditorAndItsClosingClearsNothing) {
    delegate->takeScreenshot();
    captureArea(QRectF(0, 0, 200, 100));
    const QPointer<EditWindow> first = delegate->editWindow.get();

    delegate->takeScreenshot();
    captureArea(QRectF(0, 0, 320, 180));
    ASSERT_TRUE(delegate->editWindow);
    EXPECT_NE(delegate->editWindow.get(), first.data());
    EXPECT_TRUE(delegate->editWindow->isVisible());
    EXPECT_TRUE(delegate->hasOpenWindows);
    // The first editor was closed and is gone: one editor window at a time.
    EXPECT_TRUE(first.isNull());
}

TEST_F(Shell, TakeScreenshotTwiceTracksOnlyTheNewestAndTakesTheOlderOffTheScreen) {
    delegate->takeScreenshot();
    const QPointer<ScreenCaptureWindow> older = delegate->captureWindow.get();
    delegate->takeScreenshot();
    settle();
    EXPECT_TRUE(older.isNull());
    ASSERT_TRUE(delegate->captureWindow);
    EXPECT_TRUE(delegate->captureWindow->isVisible());
    EXPECT_TRUE(delegate->isCapturingScreen);
    EXPECT_EQ(eventNames().count("screenshot_capture_started"), 2);
    // The crosshair of the older capture went with it.
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    delegate->captureWindow->close();
    settle();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(Shell, AForeignWindowClosingClearsNoFieldButRecountsTheOpenWindows) {
    delegate->showPreferences();
    settle();
    QWidget foreign;
    foreign.show();
    foreign.close();
    settle();
    EXPECT_TRUE(delegate->settingsWindow);
    EXPECT_TRUE(delegate->hasOpenWindows);

    delegate->settingsWindow->close();
    settle();
    EXPECT_FALSE(delegate->settingsWindow);
    EXPECT_FALSE(delegate->hasOpenWindows);
}

TEST_F(Shell, TrayLeftClickIsIgnoredDuringACaptureAndOtherwiseClosesTheEditorFirst) {
    delegate->takeScreenshot();
    const QPointer<ScreenCaptureWindow> capturing = delegate->captureWindow.get();
    delegate->statusItemClicked();
    settle();
    EXPECT_EQ(delegate->captureWindow.get(), capturing.data());
    EXPECT_EQ(eventNames().count("screenshot_capture_started"), 1);

    captureArea(QRectF(0, 0, 240, 160));
    delegate->showPreferences();
    settle();
    const QPointer<EditWindow> editor = delegate->editWindow.get();
    const QPointer<SettingsWindow> settings = delegate->settingsWindow.get();
    delegate->statusItemClicked();
    settle();
    EXPECT_TRUE(editor.isNull());
    EXPECT_TRUE(settings.isNull());
    EXPECT_TRUE(delegate->captureWindow);
    EXPECT_TRUE(delegate->isCapturingScreen);
}

TEST_F(Shell, ACaptureAskedForWhileTheSelectionIsReadOpensAfterItsEditor) {
    const struct {
        const char* name;
        bool openedByHotKey;
        std::function<void(AppDelegate&)> ask;
        bool newCapture;
    } cases[] = {
        {"a second start", false, [](AppDelegate& d) { d.takeScreenshot(); }, true},
        {"a tray click in a hot-key capture", true, [](AppDelegate& d) { d.statusItemClicked(); },
         true},
        {"a tray click in a tray capture", false, [](AppDelegate& d) { d.statusItemClicked(); },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.openedByHotKey)
            delegate->handleHotKeyEvent();
        else
            delegate->takeScreenshot();
        settle();
        ASSERT_TRUE(delegate->captureWindow);
        const QPointer<ScreenCaptureWindow> selecting = delegate->captureWindow.get();
        PostHogSDK::shared().clearEvents();
        // Queued before the release, so it comes while the window is hidden for the grab.
        MainQueue::async([this, &c] { c.ask(*delegate); });
        captureArea(QRectF(20, 10, 240, 160));

        ASSERT_TRUE(delegate->editWindow);
        const QImage shown =
            EditViewControllerInspector::shown(*delegate->editWindow->editViewController);
        EXPECT_EQ(shown.deviceIndependentSize(), QSizeF(240, 160));
        EXPECT_TRUE(selecting.isNull());
        EXPECT_EQ(bool(delegate->captureWindow), c.newCapture);
        EXPECT_EQ(eventNames().count("screenshot_capture_started"), c.newCapture ? 1 : 0);
        if (delegate->captureWindow) {
            EXPECT_TRUE(delegate->captureWindow->isVisible());
            delegate->captureWindow->close();
        }
        delegate->editWindow->close();
        settle();
    }
}

TEST_F(Shell, SettingsIsOneWindowBroughtBackByASecondCommand) {
    delegate->showPreferences();
    const QPointer<SettingsWindow> first = delegate->settingsWindow.get();
    delegate->showPreferences();
    settle();
    EXPECT_EQ(delegate->settingsWindow.get(), first.data());
    EXPECT_EQ(delegate->settingsWindow->windowTitle(), "Pixaloom Settings");
    // Centred as a whole, menu bar included: off by at most the frame's margins.
    const QRect shown = delegate->settingsWindow->geometry();
    EXPECT_GT(shown.height(), 200) << "the menu bar is part of the window";
    EXPECT_LE((shown.center() - delegate->settingsWindow->screen()->geometry().center())
                  .manhattanLength(),
              8);
}

TEST_F(Shell, MenuShortcutsReachTheActiveEditorOnceAndFollowItsHistory) {
    delegate->takeScreenshot();
    captureArea(QRectF(0, 0, 300, 200));
    EditWindow& editor = *delegate->editWindow;
    editor.activateWindow();
    QApplication::setActiveWindow(&editor);
    settle();
    QAction* undo = menuItem(delegate->mainMenu(), "Undo");
    QAction* redo = menuItem(delegate->mainMenu(), "Redo");
    ASSERT_TRUE(undo && redo);
    EXPECT_EQ(redo->shortcut(), QKeySequence("Ctrl+Shift+Z"));
    MainMenu::update();
    EXPECT_FALSE(undo->isEnabled());

    auto& controller = *editor.editViewController;
    controller.controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
        nullptr, Qt::white, 10, 10);
    controller.controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
        nullptr, Qt::black, 20, 20);
    MainMenu::update();
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());

    // One key press, one step, whichever of the menu and the window takes the key.
    ASSERT_EQ(EditViewControllerInspector::index(controller), 2);
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(EditViewControllerInspector::index(controller), 1);
    MainMenu::update();
    EXPECT_TRUE(redo->isEnabled());
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(EditViewControllerInspector::index(controller), 2);

    menuItem(delegate->mainMenu(), "Close Window")->trigger();
    settle();
    EXPECT_FALSE(delegate->editWindow);
}

TEST_F(Shell, EditItemsActOnTheFocusedTextField) {
    QWidget window;
    auto* field = new QLineEdit(QStringLiteral("hello world"), &window);
    window.show();
    QApplication::setActiveWindow(&window);
    field->setFocus();
    settle();
    QAction* selectAll = menuItem(delegate->mainMenu(), "Select All");
    QAction* cut = menuItem(delegate->mainMenu(), "Cut");
    QAction* paste = menuItem(delegate->mainMenu(), "Paste");
    EXPECT_FALSE(cut->isEnabled()) << "nothing selected";
    selectAll->trigger();
    EXPECT_EQ(field->selectedText(), "hello world");
    MainMenu::update();
    cut->trigger();
    EXPECT_EQ(field->text(), "");
    paste->trigger();
    EXPECT_EQ(field->text(), "hello world");

    field->setReadOnly(true);
    field->selectAll();
    MainMenu::update();
    EXPECT_FALSE(cut->isEnabled());
    EXPECT_FALSE(paste->isEnabled());
    EXPECT_TRUE(menuItem(delegate->mainMenu(), "Copy")->isEnabled());
}

TEST_F(Shell, HelpOnlyWritesToTheSystemLog) {
    LogCapture log;
    menuItem(delegate->mainMenu(), "Pixaloom Help")->trigger();
    EXPECT_EQ(log.messages("default"), QStringList{"Show help"});
}

TEST_F(Shell, TheHotKeyShowsTheTrackedCaptureOrANewOneWithoutMarkingACapture) {
    delegate->handleHotKeyEvent();
    EXPECT_FALSE(delegate->captureWindow) << "not before a main-queue turn";
    settle();
    ASSERT_TRUE(delegate->captureWindow);
    const QPointer<ScreenCaptureWindow> first = delegate->captureWindow.get();
    delegate->handleHotKeyEvent();
    settle();
    EXPECT_EQ(delegate->captureWindow.get(), first.data());
    EXPECT_FALSE(delegate->isCapturingScreen);
    EXPECT_TRUE(eventNames().isEmpty());

    // A hot-key capture leaves the tray's left click free to start another.
    delegate->statusItemClicked();
    settle();
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(delegate->isCapturingScreen);

    // Closed but not yet forgotten: the hot key opens a new window, never the closed one.
    delegate->captureWindow->close();
    const QPointer<ScreenCaptureWindow> closed = delegate->captureWindow.get();
    delegate->handleHotKeyEvent();
    settle();
    ASSERT_TRUE(delegate->captureWindow);
    EXPECT_TRUE(closed.isNull());
    EXPECT_TRUE(delegate->captureWindow->isVisible());
}

TEST(AppDelegateShortcut, WithoutAnX11DisplayRegistrationLogsItsStatusAndKeepsNoHotKey) {
    LogCapture log;
    AppDelegate delegate;
    delegate.registerGlobalShortcut();
    EXPECT_EQ(delegate.hotkeyRef, nullptr);
    const auto records = log.records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().type, QtCriticalMsg);
    EXPECT_EQ(records.back().message, "Failed to register hotkey: -1");
    delegate.applicationWillTerminate();
}

} // namespace
