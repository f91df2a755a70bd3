#pragma once

#include "shell/CaptureReceiver.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRectF>

#include <functional>
#include <map>
#include <memory>

class EditWindow;
class GlobalKeyMonitor;
class HotKey;
class PostHogSDK;
class QAction;
class QIcon;
class QMenu;
class QMessageBox;
class QWidget;
class ScreenCaptureWindow;
struct SentryOptions;
class SettingsWindow;
class StatusItem;
class Updater;
class WindowNotificationCenter;

// The application shell: starts analytics, crash reporting and update checks, builds the
// main menu and the tray icon, installs the global shortcut, and keeps track of its own three
// windows (the capture window, the one editor window, the settings window).
class AppDelegate : public QObject, public CaptureReceiver {
    Q_OBJECT
public:
    // The identity of the system hot key: a four-character signature and a number.
    struct EventHotKeyID {
        quint32 signature;
        quint32 id;
    };
    // The four characters folded big-endian: the first ends in the most significant byte.
    static constexpr quint32 fourCharCode(const char (&code)[5]) {
        quint32 folded = 0;
        for (int i = 0; i < 4; ++i)
            folded = (folded << 8) | static_cast<unsigned char>(code[i]);
        return folded;
    }

    // The targets of the main menu's items that have none of their own: they go to the
    // focused text field or the active window, whichever handles them.
    enum class Selector {
        orderFrontStandardAboutPanel,
        terminate,
        performClose,
        undo,
        redo,
        cut,
        copy,
        paste,
        selectAll,
        miniaturize,
        zoom,
        arrangeInFront,
        showHelp,
    };

    AppDelegate();
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void setupMenuBar();
    void showPreferences();
    void showHelp();
    void checkForUpdates();
    void applicationDidBecomeActive();
    void updateActivationPolicy();
    void handleWindowWillOpen(QWidget* window);
    void handleWindowClosed(QWidget* window);
    void setupStatusBarItem();
    void statusItemClicked();
    void takeScreenshot();
    void showEditWindow(const QImage& image, const QRectF& frame) override;
    void setupGlobalShortcut();
    void registerGlobalShortcut();
    void handleHotKeyEvent();
    void applicationWillTerminate();

    // The crash-reporting options that launch starts the SDK with.
    static void configureCrashReporting(SentryOptions& options);
    // The drawings of the application icon (128 points) and the tray icon (18 points).
    static QIcon applicationIcon();
    static QIcon statusIcon();

    // Whether a menu item with this target-less action is enabled now; and what it does.
    bool validateMenuItem(Selector selector) const;
    void sendAction(Selector selector);

    // The window a capture opens in; tests replace it to read the screen their own way.
    std::function<std::unique_ptr<ScreenCaptureWindow>()> makeCaptureWindow;

    // Fields, read by tests and by the shell's own parts.
    std::unique_ptr<StatusItem> statusItem;
    std::unique_ptr<EditWindow> editWindow;
    std::unique_ptr<ScreenCaptureWindow> captureWindow;
    std::unique_ptr<SettingsWindow> settingsWindow;
    std::unique_ptr<GlobalKeyMonitor> globalMonitor;
    std::unique_ptr<HotKey> hotkeyRef;
    EventHotKeyID hotkeyID{fourCharCode("PXLM"), 1};
    Updater* updater = nullptr;
    PostHogSDK* posthog = nullptr;
    bool isCapturingScreen = false;
    bool hasOpenWindows = false;

    // The menus, for tests and the windows' menu bars.
    QMenu* mainMenu() const { return mainMenuRoot.get(); }
    QMenu* statusMenu() const { return statusItemMenu.get(); }

private:
    void orderFrontStandardAboutPanel();
    void activateIgnoringOtherApps();
    void updateMainMenu();
    void observeWindows();
    void attachMainMenu(QWidget* window);
    QAction* addMenuItem(QMenu* menu, const QString& title, const QString& key,
                         std::function<void()> action);
    QAction* addTargetlessItem(QMenu* menu, const QString& title, const QString& key,
                               Selector selector);
    void openCaptureWindow();
    bool isOwnWindow(const QWidget* window) const;
    // Lets go of a window without deleting it in the middle of one of its own events (a key
    // press in it can be what starts the next capture); it goes on the next event-loop turn.
    template <typename Window> static void retire(std::unique_ptr<Window>& field) {
        if (Window* window = field.release())
            window->deleteLater();
    }
    QWidget* frontmostOwnWindow() const;

    std::unique_ptr<QMenu> mainMenuRoot;
    std::unique_ptr<QMenu> statusItemMenu;
    std::map<QAction*, Selector> targetlessItems;
    std::unique_ptr<WindowNotificationCenter> windowNotifications;
    // The window that became key last, to bring back when the application is activated.
    QPointer<QWidget> lastKeyWindow;
    // Asked for while a capture window handed its selection on; started after it closes.
    bool captureRequestedDuringHandOff = false;
    // The standard about panel, deleted when closed.
    QPointer<QMessageBox> aboutPanel;
};
