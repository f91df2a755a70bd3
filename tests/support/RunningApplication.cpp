#include "RunningApplication.h"
#include "ScreenTestTools.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/prctl.h>

#include "platform/SingleInstance.h"

namespace {

constexpr int startTimeoutMs = 15000;

// A child that outlives a crashed test would keep the X server or a port busy.
void endWithParent(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

void stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(1000);
    }
}

} // namespace

bool showsLaunchFinished(const QString& log) {
    return log.contains(QStringLiteral("Successfully registered global shortcut")) ||
           log.contains(QStringLiteral("Failed to register hotkey"));
}

struct RunningApplication::HeldStart {
    QProcess process;
    std::unique_ptr<QLockFile> lock;
    QLocalServer relay;
    QLocalSocket* request = nullptr;
};

QString xdo(const QStringList& arguments) {
    return QString::fromUtf8(runToolToItsEnd(QStringLiteral("xdotool"), arguments).output)
        .trimmed();
}

QImage clipboardImage() {
    const QStringList read{"-selection", "clipboard", "-t", "image/png", "-o"};
    return QImage::fromData(runToolToItsEnd(QStringLiteral("xclip"), read).output, "PNG");
}

QImage waitForClipboardImage(int timeoutMs) {
    QImage image;
    waitUntil(
        [&] {
            image = clipboardImage();
            return !image.isNull();
        },
        timeoutMs);
    return image;
}

RunningApplication::RunningApplication(bool withTray, const QVariantMap& info,
                                       const QString& launcher)
    : withTray(withTray)
    , info(info)
    , launcher(launcher) {
    for (const char* sub : {"config", "cache", "data", "runtime", "bin"})
        QDir(folder.path()).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(folder.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_FALSE(editServer.baseUrl().isEmpty()) << "the local edit server did not start";
    if (withTray)
        startTray();
    startApplication();
    waitUntilStarted();
}

void RunningApplication::waitUntilStarted() {
    if (withTray)
        EXPECT_TRUE(
            waitForWindow([](const Window& w) { return w.geometry.width() <= 64; }, startTimeoutMs))
            << "the tray icon never appeared";
    else
        EXPECT_TRUE(waitUntil([this] { return showsLaunchFinished(log()); }, startTimeoutMs))
            << log().toStdString();
}

RunningApplication::~RunningApplication() {
    if (heldStart)
        stop(heldStart->process);
    stop(application);
    stop(tray);
}

void RunningApplication::startTray() {
    endWithParent(tray);
    tray.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "right", "--widthtype",
                                          "request", "--height", "24", "--SetDockType", "false"});
    ASSERT_TRUE(tray.waitForStarted()) << "trayer is not installed";
    EXPECT_TRUE(waitUntil(
        [] {
            return !xdo({"search", "--classname", "trayer"}).isEmpty();
        },
        startTimeoutMs));
}

void RunningApplication::startApplication() {
    QJsonObject values = QJsonObject::fromVariantMap(info);
    if (!values.contains(QStringLiteral("PixaloomServerURL")))
        values.insert(QStringLiteral("PixaloomServerURL"), editServer.baseUrl());
    const QString bin = folder.filePath(QStringLiteral("bin"));
    const QString executableFolder = launcher.isEmpty() ? bin : bin + QStringLiteral("/src/shell");
    const QString executable = executableFolder + QStringLiteral("/pixaloom");
    if (!QFile::exists(executable)) {
        QDir().mkpath(executableFolder);
        ASSERT_TRUE(QFile::copy(QStringLiteral(PIXALOOM_EXECUTABLE), executable));
    }
    QFile infoFile(executableFolder + QStringLiteral("/Info.json"));
    ASSERT_TRUE(infoFile.open(QIODevice::WriteOnly));
    infoFile.write(QJsonDocument(values).toJson());
    infoFile.close();
    if (!launcher.isEmpty())
        layOutBuildFolder(values.value(QStringLiteral("PixaloomServerURL")).toString());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", folder.path());
    environment.insert("XDG_CONFIG_HOME", folder.filePath("config"));
    environment.insert("XDG_CACHE_HOME", folder.filePath("cache"));
    environment.insert("XDG_DATA_HOME", folder.filePath("data"));
    environment.insert("XDG_RUNTIME_DIR", folder.filePath("runtime"));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    application.setProcessEnvironment(environment);
    application.setProcessChannelMode(QProcess::SeparateChannels);
    endWithParent(application);
    if (launcher.isEmpty())
        application.start(executable, {});
    else
        application.start(launcher, {bin});
    ASSERT_TRUE(application.waitForStarted());
}

// The parts of a build folder that the launcher reads besides the executable.
void RunningApplication::layOutBuildFolder(const QString& serverUrl) {
    const QDir build(folder.filePath(QStringLiteral("bin")));
    build.mkpath(QStringLiteral("tools/edit-server"));
    const QString server = build.filePath(QStringLiteral("tools/edit-server/pixaloom-edit-server"));
    if (!QFile::exists(server))
        ASSERT_TRUE(QFile::link(QStringLiteral(PIXALOOM_EDIT_SERVER), server));
    QFile cache(build.filePath(QStringLiteral("CMakeCache.txt")));
    ASSERT_TRUE(cache.open(QIODevice::WriteOnly));
    cache.write("PIXALOOM_SERVER_URL:STRING=" + serverUrl.toUtf8() + '\n');
}

std::optional<int> RunningApplication::startAgain() {
    QProcess second;
    second.setProcessEnvironment(application.processEnvironment());
    endWithParent(second);
    second.start(application.program(), {});
    return exitCodeOf(second);
}

bool RunningApplication::startAgainHeld() {
    const QString runtime = folder.filePath(QStringLiteral("held-runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    heldStart = std::make_unique<HeldStart>();
    const QString name = runtime + QLatin1Char('/') + SingleInstance::applicationName;
    heldStart->lock = std::make_unique<QLockFile>(name + QStringLiteral(".lock"));
    if (!heldStart->lock->tryLock(0))
        return false;
    // The socket of an earlier held start may still be there.
    QLocalServer::removeServer(name + QStringLiteral(".socket"));
    if (!heldStart->relay.listen(name + QStringLiteral(".socket")))
        return false;
    QProcessEnvironment environment = application.processEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime);
    heldStart->process.setProcessEnvironment(environment);
    endWithParent(heldStart->process);
    heldStart->process.start(application.program(), {});
    return waitUntil(
        [this] {
            if (!heldStart->request)
                heldStart->request = heldStart->relay.nextPendingConnection();
            return heldStart->request && heldStart->request->bytesAvailable() > 0 &&
                   heldStart->request->peek(64).endsWith('\n');
        },
        startTimeoutMs);
}

bool RunningApplication::deliverHeldStart() {
    QLocalSocket running;
    running.connectToServer(folder.filePath(QStringLiteral("runtime/")) +
                            SingleInstance::applicationName + QStringLiteral(".socket"));
    if (!running.waitForConnected(1000))
        return false;
    running.write(heldStart->request->readAll());
    running.waitForBytesWritten(1000);
    QByteArray answer;
    while (!answer.endsWith('\n') && running.waitForReadyRead(3000))
        answer += running.readAll();
    heldStart->request->write(answer);
    heldStart->request->flush();
    heldStart->request->disconnectFromServer();
    return !answer.isEmpty();
}

std::optional<int> RunningApplication::waitForHeldStart() {
    return exitCodeOf(heldStart->process);
}

std::optional<int> RunningApplication::exitCodeOf(QProcess& start) {
    if (!start.waitForStarted() ||
        !waitUntil([&] { return start.state() == QProcess::NotRunning; }, startTimeoutMs))
        return std::nullopt;
    if (start.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return start.exitCode();
}

void RunningApplication::stopEditServer() {
    editServer.stop();
}

void RunningApplication::signal(int number) {
    ASSERT_EQ(::kill(pid_t(application.processId()), number), 0);
}

void RunningApplication::relaunch() {
    ASSERT_FALSE(isRunning());
    // What the last run wrote is not taken for what this one writes.
    log();
    errors.clear();
    startApplication();
    waitUntilStarted();
}

QString RunningApplication::runtimeFolder() const {
    return folder.filePath(QStringLiteral("runtime"));
}

bool RunningApplication::isRunning() const {
    return application.state() == QProcess::Running;
}

QList<RunningApplication::Window> RunningApplication::windows() const {
    QList<Window> found;
    const QString pid = QString::number(application.processId());
    const QStringList ids =
        xdo({"search", "--onlyvisible", "--classname", "pixaloom"}).split('\n', Qt::SkipEmptyParts);
    // xwininfo's absolute position is the window's own, also inside a window manager's frame
    // (where xdotool's position is off by the title bar).
    static const QRegularExpression geometryLines(
        QStringLiteral("Absolute upper-left X: +(-?\\d+)\\s+Absolute upper-left Y: +(-?\\d+)"
                       "[\\s\\S]*Width: (\\d+)\\s+Height: (\\d+)"));
    for (const QString& id : ids) {
        const auto geometry = geometryLines.match(
            QString::fromUtf8(runToolToItsEnd(QStringLiteral("xwininfo"), {"-id", id}).output));
        if (!geometry.hasMatch())
            continue;
        found.append({id, xdo({"getwindowname", id}),
                      QRect(geometry.captured(1).toInt(), geometry.captured(2).toInt(),
                            geometry.captured(3).toInt(), geometry.captured(4).toInt())});
    }
    return found;
}

std::optional<RunningApplication::Window>
RunningApplication::waitForWindow(const std::function<bool(const Window&)>& match,
                                  int timeoutMs) const {
    std::optional<Window> result;
    waitUntil(
        [&] {
            for (const Window& window : windows())
                if (match(window)) {
                    result = window;
                    return true;
                }
            return false;
        },
        timeoutMs);
    return result;
}

bool RunningApplication::waitForNoWindow(const std::function<bool(const Window&)>& match,
                                         int timeoutMs) const {
    return waitUntil(
        [&] {
            for (const Window& window : windows())
                if (match(window))
                    return false;
            return true;
        },
        timeoutMs);
}

std::optional<RunningApplication::Window> RunningApplication::trayIcon() const {
    return waitForWindow([](const Window& w) { return w.geometry.width() <= 64; }, 0);
}

std::optional<RunningApplication::Window> RunningApplication::captureWindow() const {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    return waitForWindow([screen](const Window& w) { return w.geometry.size() == screen; }, 0);
}

QString RunningApplication::log() {
    errors += QString::fromUtf8(application.readAllStandardError());
    return errors;
}

bool RunningApplication::waitForLog(const QString& line, int timeoutMs) {
    return waitUntil([&] { return log().contains(line); }, timeoutMs);
}

std::optional<int> RunningApplication::waitForExit(int timeoutMs) {
    if (!waitUntil([&] { return application.state() == QProcess::NotRunning; }, timeoutMs))
        return std::nullopt;
    log();
    if (application.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return application.exitCode();
}

QString RunningApplication::settingsFile() const {
    return folder.filePath(QStringLiteral("config/Pixaloom/Pixaloom.conf"));
}

QStringList RunningApplication::queuedAnalyticsEvents() const {
    const QDir queue(folder.filePath(QStringLiteral("cache/pixaloom/posthog/queue")));
    QStringList names;
    for (const QString& item : queue.entryList({QStringLiteral("*.event")}, QDir::Files)) {
        QFile file(queue.filePath(item));
        if (file.open(QIODevice::ReadOnly))
            names << QJsonDocument::fromJson(file.readAll())[QStringLiteral("event")].toString();
    }
    return names;
}
