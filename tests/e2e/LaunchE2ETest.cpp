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

} // namespace
