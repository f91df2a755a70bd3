#include "platform/SingleInstance.h"

#include "LogCapture.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <csignal>

namespace {

using namespace std::chrono_literals;

const QString instanceLog = QStringLiteral("com.app.pixaloom.SingleInstance");

// A runtime folder of this test's own, as the session gives each user one; the children
// started below inherit it.
class SingleInstanceTest : public ::testing::Test {
protected:
    SingleInstanceTest()
        : previousRuntimeFolder(qgetenv("XDG_RUNTIME_DIR")) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeFolder.path()));
    }
    ~SingleInstanceTest() override {
        for (auto& child : children) {
            if (child->state() != QProcess::NotRunning) {
                ::kill(pid_t(child->processId()), SIGCONT);
                child->kill();
                child->waitForFinished(5000);
            }
        }
        qputenv("XDG_RUNTIME_DIR", previousRuntimeFolder);
    }

    // Starts another start of the application; it ends after `requests` requests or 20 s.
    QProcess& start(int requests = 100) {
        auto& child = children.emplace_back(std::make_unique<QProcess>());
        child->setProgram(QStringLiteral(SINGLE_INSTANCE_CHILD_PATH));
        child->setArguments({name, QString::number(requests), QStringLiteral("20000")});
        child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child->start();
        EXPECT_TRUE(child->waitForStarted(5000));
        return *child;
    }
    // The child's first `count` lines, this process's event loop running meanwhile (it may
    // be the instance the child talks to).
    QString lines(QProcess& child, int count) {
        QByteArray& output = outputs[&child];
        // A timeout shows in the caller's comparison of the lines.
        (void)QTest::qWaitFor(
            [&] {
                output += child.readAllStandardOutput();
                return output.count('\n') >= count;
            },
            20000);
        return QString::fromUtf8(output).trimmed().replace('\n', ' ');
    }
    // Runs a later start to its end; its output.
    QString runSecondStart() {
        QProcess& child = start();
        EXPECT_TRUE(QTest::qWaitFor([&] { return child.state() == QProcess::NotRunning; }, 20000));
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0);
        return QString::fromUtf8(child.readAllStandardOutput()).trimmed();
    }
    SingleInstance::Claim claimHere() {
        return SingleInstance::claim(name, [this] { ++requestsHere; });
    }

    QTemporaryDir runtimeFolder;
    QByteArray previousRuntimeFolder;
    const QString name = QStringLiteral("com.app.pixaloom.test");
    std::vector<std::unique_ptr<QProcess>> children;
    std::map<QProcess*, QByteArray> outputs;
    int requestsHere = 0;
};

TEST_F(SingleInstanceTest, LaterStartsAskTheRunningOneAndEndWithSuccess) {
    auto instance = claimHere().instance;
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(QFileInfo(SingleInstance::socketPath(name)).path(), runtimeFolder.path());
    EXPECT_FALSE(QFileInfo(SingleInstance::socketPath(name)).permissions() &
                 (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup))
        << "only this user may ask";

    for (int start = 1; start <= 2; ++start) {
        EXPECT_EQ(runSecondStart(), "secondary");
        EXPECT_EQ(requestsHere, start);
    }

    // And the other way round: the running instance is another process.
    instance.reset();
    QProcess& running = start();
    ASSERT_EQ(lines(running, 1), "primary");
    LogCapture logs;
    const auto later = claimHere();
    EXPECT_EQ(later.instance, nullptr);
    EXPECT_TRUE(later.answered);
    EXPECT_EQ(lines(running, 2), "primary activated");
    EXPECT_EQ(logs.messages(instanceLog),
              QStringList{"Pixaloom is already running; asked it to take a screenshot"});
}

TEST_F(SingleInstanceTest, ACrashedInstancesFilesDoNotStopTheNextStart) {
    QProcess& crashed = start();
    ASSERT_EQ(lines(crashed, 1), "primary");
    crashed.kill();
    ASSERT_TRUE(crashed.waitForFinished(5000));
    ASSERT_TRUE(QFile::exists(SingleInstance::socketPath(name)));
    ASSERT_TRUE(QFile::exists(SingleInstance::lockPath(name)));

    auto instance = claimHere().instance;
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(runSecondStart(), "secondary");
    EXPECT_EQ(requestsHere, 1);
}

TEST_F(SingleInstanceTest, AnUnreadableLockIsRemovedOnceNobodyAnswers) {
    for (const QByteArray& junk : {QByteArray(), QByteArrayLiteral("not a lock\n\xff\n")}) {
        SCOPED_TRACE(junk.toStdString());
        QFile lock(SingleInstance::lockPath(name));
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
        lock.write(junk);
        lock.close();

        LogCapture logs;
        auto instance = claimHere().instance;
        ASSERT_NE(instance, nullptr);
        EXPECT_EQ(logs.messages(instanceLog),
                  QStringList{"Removing the unreadable lock " + SingleInstance::lockPath(name)});
        EXPECT_EQ(runSecondStart(), "secondary");
    }
    EXPECT_EQ(requestsHere, 2);
}

TEST_F(SingleInstanceTest, OfStartsAtTheSameMomentExactlyOneRuns) {
    constexpr int starts = 6;
    std::vector<QProcess*> racing;
    for (int n = 0; n < starts; ++n)
        racing.push_back(&start(starts - 1));
    int primaries = 0;
    for (QProcess* child : racing) {
        ASSERT_TRUE(child->waitForFinished(20000));
        EXPECT_EQ(child->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child->exitCode(), 0);
        const QString output = QString::fromUtf8(child->readAllStandardOutput()).trimmed();
        if (output.startsWith("primary")) {
            ++primaries;
            EXPECT_EQ(output.count("activated"), starts - 1) << "every other start reached it";
        } else {
            EXPECT_EQ(output, "secondary");
        }
    }
    EXPECT_EQ(primaries, 1);
}

TEST_F(SingleInstanceTest, AHungInstanceDoesNotHangTheNextStart) {
    QProcess& hung = start();
    ASSERT_EQ(lines(hung, 1), "primary");
    ASSERT_EQ(::kill(pid_t(hung.processId()), SIGSTOP), 0);

    LogCapture logs;
    const auto started = std::chrono::steady_clock::now();
    const auto later = claimHere();
    EXPECT_EQ(later.instance, nullptr) << "it still holds the name";
    EXPECT_FALSE(later.answered);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_EQ(logs.messages(instanceLog),
              QStringList{"Pixaloom is already running but did not answer"});
}

TEST_F(SingleInstanceTest, WhatIsNotARequestIsDroppedAndRequestsStillArrive) {
    auto instance = claimHere().instance;
    ASSERT_NE(instance, nullptr);
    // A peer that connects and stays silent holds nothing up.
    QLocalSocket silent;
    silent.connectToServer(SingleInstance::socketPath(name));
    ASSERT_TRUE(silent.waitForConnected(2000));
    const QList<QByteArray> junk{QByteArray(4096, 'x'), QByteArrayLiteral("activate now\n"),
                                 QByteArray("\x00\x01\x02\n", 4), QByteArrayLiteral("ok\n")};
    for (const QByteArray& bytes : junk) {
        QLocalSocket peer;
        peer.connectToServer(SingleInstance::socketPath(name));
        ASSERT_TRUE(peer.waitForConnected(2000));
        peer.write(bytes);
        peer.flush();
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return peer.state() == QLocalSocket::UnconnectedState; }, 5000))
            << "dropped: " << bytes.left(20).toStdString();
    }
    EXPECT_EQ(requestsHere, 0);
    EXPECT_EQ(runSecondStart(), "secondary");
    EXPECT_EQ(requestsHere, 1);
}

} // namespace
