#include "RunningApplication.h"
#include "ScreenTestTools.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
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

RunningApplication::RunningApplication(bool withTray) {
    for (const char* sub : {"config", "cache", "data", "runtime", "bin"})
        QDir(folder.path()).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(folder.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_FALSE(editServer.baseUrl().isEmpty()) << "the local edit server did not start";
    if (withTray)
        startTray();
    startApplication();
    if (withTray)
        EXPECT_TRUE(
            waitForWindow([](const Window& w) { return w.geometry.width() <= 64; }, startTimeoutMs))
            << "the tray icon never appeared";
    else
        EXPECT_TRUE(waitForLog(QStringLiteral("Pixaloom application started"), startTimeoutMs));
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
    const QString bin = folder.filePath(QStringLiteral("bin"));
    const QString executable = bin + QStringLiteral("/pixaloom");
    ASSERT_TRUE(QFile::copy(QStringLiteral(PIXALOOM_EXECUTABLE), executable));
    QFile info(bin + QStringLiteral("/Info.json"));
    ASSERT_TRUE(info.open(QIODevice::WriteOnly));
    info.write(QStringLiteral(R"({"PixaloomServerURL": "%1"})").arg(editServer.baseUrl()).toUtf8());
    info.close();

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
    application.start(executable, {});
    ASSERT_TRUE(application.waitForStarted());
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
