// Pixaloom started where it cannot run, and through the script that runs a built tree.
#include "RunningApplication.h"

#include <QLockFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

namespace {

// Started with the given display and platform (null: not set at all), in folders of its own;
// ended by SIGTERM once it has started, when it gets that far.
struct Outcome {
    QByteArray errors;
    std::optional<int> status;
};
Outcome runWith(const char* display, const char* platform, const QStringList& arguments = {}) {
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"})
        environment.remove(name);
    if (display)
        environment.insert("DISPLAY", display);
    if (platform)
        environment.insert("QT_QPA_PLATFORM", platform);
    for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        environment.insert(name, home.path());
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(PIXALOOM_EXECUTABLE), arguments);
    Outcome run;
    bool terminated = false;
    const bool ended = QTest::qWaitFor(
        [&] {
            run.errors += process.readAllStandardError();
            if (!terminated && showsLaunchFinished(QString::fromUtf8(run.errors))) {
                process.terminate();
                terminated = true;
            }
            return process.state() == QProcess::NotRunning;
        },
        10000);
    EXPECT_TRUE(ended);
    if (!ended)
        process.kill();
    process.waitForFinished();
    run.errors += process.readAllStandardError();
    if (process.exitStatus() == QProcess::NormalExit)
        run.status = process.exitCode();
    return run;
}

TEST(NoDisplay, OneLineNamesTheDisplayThatCannotBeOpenedAndTheStatusIs1) {
    const struct {
        const char* display;
        const char* platform;
        const char* line;
    } cases[] = {
        {nullptr, "xcb", "Cannot open the X display: DISPLAY is not set"},
        {nullptr, nullptr, "Cannot open the X display: DISPLAY is not set"},
        {":99999", "xcb", "Cannot open the X display \":99999\""},
        {":99999", nullptr, "Cannot open the X display \":99999\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("DISPLAY=") + (c.display ? c.display : "(unset)") +
                     " QT_QPA_PLATFORM=" + (c.platform ? c.platform : "(unset)"));
        const Outcome run = runWith(c.display, c.platform);
        EXPECT_EQ(run.status, 1);
        const QList<QByteArray> lines = run.errors.trimmed().split('\n');
        ASSERT_EQ(lines.size(), 1) << run.errors.toStdString();
        EXPECT_TRUE(lines[0].endsWith(c.line)) << lines[0].toStdString();
    }
}

TEST(NoDisplay, AnotherPlatformAskedForNeedsNone) {
    for (const QStringList& arguments : {QStringList{}, QStringList{"-platform", "offscreen"}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Outcome run = runWith(":99999", arguments.isEmpty() ? "offscreen" : "xcb", arguments);
        EXPECT_EQ(run.status, 0) << run.errors.toStdString();
        EXPECT_TRUE(showsLaunchFinished(QString::fromUtf8(run.errors)));
        EXPECT_FALSE(run.errors.contains("Cannot open the X display")) << run.errors.toStdString();
    }
}

// A port of 127.0.0.1 that nothing listens on.
quint16 freePort() {
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    return probe.serverPort();
}

bool listens(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}

bool isAlive(qint64 pid) {
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

// tools/run-built.sh as a user runs it from a terminal or a launcher, with the local edit
// server it starts on a port of its own.
TEST(RunScript, ASignalToTheScriptQuitsTheApplicationThenStopsItsServer) {
    for (const int number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sigabbrev_np(number));
        const quint16 port = freePort();
        RunningApplication script(
            false, {{"PixaloomServerURL", QStringLiteral("http://127.0.0.1:%1").arg(port)}},
            QStringLiteral(PIXALOOM_SOURCE_DIR "/tools/run-built.sh"));
        EXPECT_TRUE(QTest::qWaitFor([port] { return listens(port); }, 5000))
            << "the script started no edit server";
        qint64 application = 0;
        QString host, name;
        QLockFile(script.runtimeFolder() + "/com.app.pixaloom.lock")
            .getLockInfo(&application, &host, &name);
        ASSERT_TRUE(isAlive(application));

        script.signal(number);
        EXPECT_EQ(script.waitForExit(), 0) << script.log().toStdString();
        EXPECT_FALSE(isAlive(application)) << "the application outlived its script";
        EXPECT_FALSE(listens(port)) << "the edit server outlived its script";
        EXPECT_TRUE(script.log().contains("Received SIG" + QString(sigabbrev_np(number))));
        if (isAlive(application))
            ::kill(pid_t(application), SIGKILL);
    }
}

} // namespace
