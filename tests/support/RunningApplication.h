#pragma once

// Pixaloom started as a user starts it, for the end-to-end tests: its own copy of the
// executable with an Info file that points it at a local edit server on a free port, its own
// home folders, and a tray to sit in. Everything it starts ends with it, or with the test
// process if that dies first.

#include "LocalEditServer.h"

#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

#include <memory>
#include <optional>

class RunningApplication {
public:
    struct Window {
        QString id;
        QString name;
        QRect geometry;
    };

    // Starts the edit server and a tray (trayer) when `withTray`, then the application; waits
    // until its tray icon is embedded, or until its launch has finished when there is no tray.
    // The keys of `info` go into its Info file beside the edit server's URL, or in its place.
    // With a `launcher` (tools/run-built.sh) the application is started through that script,
    // given a build folder that holds the executable, the edit server and a CMakeCache.txt
    // naming the Info file's server URL; the process is then the script's.
    explicit RunningApplication(bool withTray = true, const QVariantMap& info = {},
                                const QString& launcher = {});
    ~RunningApplication();
    RunningApplication(const RunningApplication&) = delete;
    RunningApplication& operator=(const RunningApplication&) = delete;

    bool isRunning() const;
    // Sends the started process a signal, as a session, `kill` or a terminal would.
    void signal(int number);
    // Starts it again in the same folders once it has ended: its next start.
    void relaunch();
    // The folder of its lock and socket ($XDG_RUNTIME_DIR).
    QString runtimeFolder() const;
    // Starts the executable once more, as a user would a second time, and waits for that
    // start to end; its exit code, or nullopt when it did not end or crashed.
    std::optional<int> startAgain();
    // The same, but the start's request to the running one is held on the way, so that a
    // test can make it arrive at a moment of its choosing: the start runs with a runtime
    // folder of its own, where this process holds the lock and listens in the running one's
    // place. Returns once the request is held (false when none came in time); it must then
    // be delivered within the start's answer time of three seconds.
    bool startAgainHeld();
    // Passes the held request on to the running one and its answer back; whether it answered.
    bool deliverHeldStart();
    // Waits for the held start to end, as startAgain does.
    std::optional<int> waitForHeldStart();
    // Ends the edit server, as a server that goes away would.
    void stopEditServer();
    // The application's visible top-level windows and the tray icon, as the X server has them.
    QList<Window> windows() const;
    std::optional<Window> waitForWindow(const std::function<bool(const Window&)>& match,
                                        int timeoutMs = 10000) const;
    bool waitForNoWindow(const std::function<bool(const Window&)>& match,
                         int timeoutMs = 10000) const;
    std::optional<Window> trayIcon() const;
    std::optional<Window> captureWindow() const;

    // What the application wrote to stderr so far.
    QString log();
    bool waitForLog(const QString& line, int timeoutMs = 10000);
    // Waits for the process to end; its exit code, or nullopt when it did not end or crashed.
    std::optional<int> waitForExit(int timeoutMs = 10000);
    // The names of the analytics events waiting in the application's queue on disk.
    QStringList queuedAnalyticsEvents() const;
    // The settings file the application reads and writes.
    QString settingsFile() const;

private:
    static std::optional<int> exitCodeOf(QProcess& start);
    void startTray();
    void startApplication();
    void waitUntilStarted();
    void layOutBuildFolder(const QString& serverUrl);

    const bool withTray;
    const QVariantMap info;
    const QString launcher;
    QTemporaryDir folder;
    LocalEditServer editServer;
    QProcess tray;
    QProcess application;
    QString errors;
    struct HeldStart;
    std::unique_ptr<HeldStart> heldStart;
};

// Whether the application's log shows its launch finished: its last step, the hot key's
// registration, is logged whether it succeeds or not.
bool showsLaunchFinished(const QString& log);
// Runs xdotool while this process keeps serving its own windows; returns its output.
QString xdo(const QStringList& arguments);
// The clipboard's image as another X client reads it.
QImage clipboardImage();
// The same, once there is one; a null image when none came within the time.
QImage waitForClipboardImage(int timeoutMs = 5000);
