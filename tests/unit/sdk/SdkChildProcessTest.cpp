#include "LoopbackHttpServer.h"
#include "SdkTestSupport.h"
#include "SmallDisk.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using namespace std::chrono_literals;
using namespace SdkTestSupport;

// Runs of a real process that sets up both SDKs, against real loopback servers, sharing
// one cache between runs as the application's runs share the user's cache.
class SdkChildProcessTest : public ::testing::Test {
protected:
    QStringList arguments(const QStringList& extra) const {
        return QStringList{"--dsn",          dsnFor(crashServer),
                           "--sentry-cache", cache.filePath("sentry"),
                           "--posthog-key",  "phc_childkey",
                           "--posthog-host", analyticsServer.baseUrl(),
                           "--storage",      cache.filePath("posthog")} +
               extra;
    }
    void start(QProcess& child, const QStringList& extra,
               QProcess::ProcessChannelMode channels = QProcess::ForwardedErrorChannel) const {
        child.setProgram(QStringLiteral(SDK_CHILD_PATH));
        child.setArguments(arguments(extra));
        child.setProcessChannelMode(channels);
        // Under AddressSanitizer a crash must still end the child by its signal, as it does
        // in a normal build, rather than by the sanitizer's exit code.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           sanitizer + QStringLiteral(":abort_on_error=1"));
        child.setProcessEnvironment(environment);
        child.start();
        ASSERT_TRUE(child.waitForStarted(5000));
    }
    // Runs the child to its end; whether it crashed.
    bool run(const QStringList& extra) const {
        QProcess child;
        start(child, extra);
        EXPECT_TRUE(child.waitForFinished(20000));
        return child.exitStatus() == QProcess::CrashExit;
    }
    // Runs the child to its end, letting the servers take connections `serversBackAfter` into
    // the run; what it logged.
    QString runLogged(const QStringList& extra, std::chrono::milliseconds serversBackAfter) {
        QProcess child;
        start(child, extra, QProcess::SeparateChannels);
        std::this_thread::sleep_for(serversBackAfter);
        crashServer.acceptConnections();
        analyticsServer.acceptConnections();
        EXPECT_TRUE(child.waitForFinished(20000));
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        return QString::fromUtf8(child.readAllStandardError());
    }
    int fatalEventsAccepted() const {
        return static_cast<int>(
            std::ranges::count_if(acceptedEvents("event"), [](const auto& event) {
                return event.value("level").toString() == "fatal";
            }));
    }
    std::vector<QJsonObject> acceptedEvents(const QString& type) const {
        return items(envelopes(crashServer.accepted()), type);
    }

    LoopbackHttpServer crashServer;
    LoopbackHttpServer analyticsServer;
    QTemporaryDir cache;
};

TEST_F(SdkChildProcessTest, WhatTwoOfflineRunsCapturedArrivesOnceWhenTheNetworkReturns) {
    crashServer.refuseConnections();
    analyticsServer.refuseConnections();
    EXPECT_FALSE(run({"--run", "1", "--events", "50", "--errors", "5"}));

    // The second run starts offline; the network returns while it runs, with a server that
    // first rate-limits, fails or stalls.
    QProcess second;
    start(second, {"--run", "2", "--events", "50", "--errors", "5", "--linger-ms", "4000"});
    std::this_thread::sleep_for(500ms);
    crashServer.script({{429, {{"Retry-After", "1"}}, "", 0ms}, {503, {}, "", 0ms}});
    analyticsServer.script({{503, {}, "", 0ms}, {200, {}, "{}", 1500ms}});
    crashServer.acceptConnections();
    analyticsServer.acceptConnections();
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);

    QSet<QString> uuids;
    QSet<QString> runIndex;
    const auto events = batchedEvents(analyticsServer.accepted());
    for (const auto& event : events) {
        uuids.insert(event.value("uuid").toString());
        const auto properties = event.value("properties").toObject();
        runIndex.insert(properties.value("run").toString() + "/" +
                        QString::number(properties.value("index").toInt()));
    }
    EXPECT_EQ(events.size(), 100u);
    EXPECT_EQ(uuids.size(), 100);
    EXPECT_EQ(runIndex.size(), 100);

    const auto errors = acceptedEvents("event");
    QSet<QString> eventIds;
    QSet<QString> values;
    for (const auto& error : errors) {
        eventIds.insert(error.value("event_id").toString());
        values.insert(valueAt(error, "exception/values/0/value").toString());
    }
    EXPECT_EQ(errors.size(), 10u);
    EXPECT_EQ(eventIds.size(), 10);
    EXPECT_EQ(values.size(), 10);
    // Both runs' sessions went out, each ending exited.
    int exited = 0;
    for (const auto& session : acceptedEvents("session"))
        exited += session.value("status").toString() == "exited";
    EXPECT_EQ(exited, 2);
    EXPECT_EQ(fileCount(cache.filePath("posthog/queue")), 0);
    EXPECT_EQ(fileCount(cache.filePath("sentry/envelopes")), 0);
}

TEST_F(SdkChildProcessTest, ACrashIsReportedAtTheNextStartAndTheProcessStillDies) {
    struct Case {
        const char* crash;
        const char* type;
        const char* value;
    };
    const Case cases[] = {
        {"segv", "SIGSEGV", "Segfault"},
        {"abort", "SIGABRT", "Abort"},
        {"throw", "std::runtime_error", "the child gave up"},
        // Not UTF-8: replaced, so the crash file still reads as JSON.
        {"throw-latin1", "std::runtime_error", "caf\uFFFD \"quoted\"\n\uFFFD"},
        // Off the main thread, where the handler needs an alternate stack of its own.
        {"overflow-thread", "SIGSEGV", "Segfault"},
        {"overflow-pool", "SIGSEGV", "Segfault"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.crash);
        crashServer.refuseConnections();
        EXPECT_TRUE(run({"--crash", c.crash}));
        crashServer.acceptConnections();
        const auto before = crashServer.accepted().size();
        EXPECT_FALSE(run({}));

        const auto sent = envelopes(crashServer.accepted());
        std::optional<SentryEnvelope> crashEnvelope;
        for (std::size_t i = before; i < sent.size(); ++i)
            for (const auto& item : sent[i].items)
                if (item.type == "event" && item.payload.contains("\"fatal\""))
                    crashEnvelope = sent[i];
        ASSERT_TRUE(crashEnvelope);
        const auto event = QJsonDocument::fromJson(crashEnvelope->items[0].payload).object();
        const auto exception = valueAt(event, "exception/values/0").toObject();
        EXPECT_EQ(exception.value("type").toString(), c.type);
        EXPECT_EQ(exception.value("value").toString(), QString::fromUtf8(c.value));
        EXPECT_FALSE(exception.value("mechanism").toObject().value("handled").toBool(true));
        EXPECT_EQ(event.value("release").toString(), "com.app.pixaloom@1.0.0");
        EXPECT_FALSE(event.value("user").toObject().value("id").toString().isEmpty());
        // The crashed run's session ends crashed in the same envelope.
        ASSERT_EQ(crashEnvelope->items.size(), 2u);
        const auto session = QJsonDocument::fromJson(crashEnvelope->items[1].payload).object();
        EXPECT_EQ(session.value("status").toString(), "crashed");
        EXPECT_GE(session.value("errors").toInt(), 1);
        // The message captured just before the crash was not lost either.
        const auto messages = acceptedEvents("event");
        EXPECT_TRUE(std::ranges::any_of(messages, [](const QJsonObject& message) {
            return valueAt(message, "message/formatted") == "about to crash";
        }));
        crashServer.script({});
    }
}

TEST_F(SdkChildProcessTest, ACrashRightAfterStartIsReportedWithItsSession) {
    // The crash comes while the worker is still setting up the cache and the session.
    crashServer.refuseConnections();
    EXPECT_TRUE(run({"--crash-at-start", "segv"}));
    crashServer.acceptConnections();
    EXPECT_FALSE(run({}));

    std::vector<SentryEnvelope> crashEnvelopes;
    for (const auto& envelope : envelopes(crashServer.accepted()))
        if (!items({envelope}, "event").empty() &&
            items({envelope}, "event")[0].value("level").toString() == "fatal")
            crashEnvelopes.push_back(envelope);
    ASSERT_EQ(crashEnvelopes.size(), 1u);
    const auto sessions = items(crashEnvelopes, "session");
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].value("status").toString(), "crashed");
}

TEST_F(SdkChildProcessTest, QueuesKilledMidWriteHoldOnlyWholeItemsAndAllOfThemArrive) {
    crashServer.refuseConnections();
    analyticsServer.refuseConnections();
    for (const auto delay : {150ms, 400ms}) {
        QProcess child;
        start(child, {"--forever"});
        ASSERT_TRUE(child.waitForReadyRead(10000));
        std::this_thread::sleep_for(delay);
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(5000));
    }

    // Every item on disk is whole: the queue is written by rename only.
    int queuedEvents = 0;
    for (QDirIterator it(cache.filePath("posthog/queue"), {"*.event"}, QDir::Files);
         it.hasNext();) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QJsonParseError error;
        QJsonDocument::fromJson(file.readAll(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << it.filePath().toStdString();
        ++queuedEvents;
    }
    int queuedEnvelopes = 0;
    for (QDirIterator it(cache.filePath("sentry/envelopes"), {"*.envelope"}, QDir::Files);
         it.hasNext();) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(SentryEnvelope::parse(file.readAll())) << it.filePath().toStdString();
        ++queuedEnvelopes;
    }
    EXPECT_GT(queuedEvents, 0);
    EXPECT_GT(queuedEnvelopes, 0);

    crashServer.acceptConnections();
    analyticsServer.acceptConnections();
    // Like the application's launch event, the run's one capture starts the analytics queue.
    EXPECT_FALSE(run({"--events", "1"}));
    const auto events = batchedEvents(analyticsServer.accepted());
    QSet<QString> uuids;
    for (const auto& event : events)
        uuids.insert(event.value("uuid").toString());
    EXPECT_EQ(static_cast<int>(events.size()), queuedEvents + 1);
    EXPECT_EQ(uuids.size(), queuedEvents + 1);
    // Sessions of killed runs end as abnormal.
    int abnormal = 0;
    for (const auto& session : acceptedEvents("session"))
        abnormal += session.value("status").toString() == "abnormal";
    EXPECT_EQ(abnormal, 1); // the first killed run's session was closed by the second run
}

// The cache on a real file system with no room left: every write fails as on a full disk.
class FullDiskTest : public SdkChildProcessTest {
protected:
    void SetUp() override {
        if (!disk.isMounted())
            GTEST_SKIP() << "no small file system to fill: " << disk.whyNot;
    }
    int crashFiles() const {
        return static_cast<int>(
            QDir(cache.filePath("sentry/crashes")).entryList({"*.crash"}, QDir::Files).size());
    }

    SmallDisk disk{cache.path()};
};

TEST_F(FullDiskTest, WhatCannotBeWrittenIsLoggedKeptAndSentWhenTheServersReturn) {
    disk.fill();
    crashServer.refuseConnections();
    analyticsServer.refuseConnections();
    const QString log =
        runLogged({"--run", "1", "--events", "5", "--errors", "2", "--linger-ms", "3000"}, 1000ms);

    EXPECT_EQ(log.count("Could not queue the analytics event child_event"), 5) << log.toStdString();
    EXPECT_GE(log.count("Could not cache an envelope"), 3) << log.toStdString();
    QSet<QString> indexes;
    for (const auto& event : batchedEvents(analyticsServer.accepted()))
        indexes.insert(event.value("properties").toObject().value("index").toVariant().toString());
    EXPECT_EQ(indexes, (QSet<QString>{"0", "1", "2", "3", "4"}));
    EXPECT_EQ(acceptedEvents("event").size(), 2u);
    // Nothing was left behind half written, to be set aside or dropped at the next start.
    EXPECT_EQ(fileCount(cache.filePath("posthog/queue")), 0);
    EXPECT_EQ(fileCount(cache.filePath("sentry/envelopes")), 0);
}

TEST_F(FullDiskTest, WhatWaitedInMemoryReachesTheDiskWhenRoomComesAndIsSentAtTheNextStart) {
    disk.fill();
    crashServer.refuseConnections();
    analyticsServer.refuseConnections();
    QProcess first;
    start(first, {"--run", "1", "--events", "5", "--errors", "2", "--linger-ms", "2500"});
    std::this_thread::sleep_for(1000ms);
    disk.free();
    ASSERT_TRUE(first.waitForFinished(20000));

    crashServer.acceptConnections();
    analyticsServer.acceptConnections();
    EXPECT_FALSE(run({"--run", "2", "--events", "1"}));
    QSet<QString> runIndex;
    for (const auto& event : batchedEvents(analyticsServer.accepted())) {
        const auto properties = event.value("properties").toObject();
        runIndex.insert(properties.value("run").toString() + "/" +
                        QString::number(properties.value("index").toInt()));
    }
    EXPECT_EQ(runIndex, (QSet<QString>{"1/0", "1/1", "1/2", "1/3", "1/4", "2/0"}));
    EXPECT_EQ(acceptedEvents("event").size(), 2u);
}

TEST_F(FullDiskTest, ACrashReportOutlivesAFullDiskAndIsSentOnce) {
    crashServer.refuseConnections();
    EXPECT_TRUE(run({"--crash", "segv"}));
    ASSERT_EQ(crashFiles(), 1);

    // The next start finds no room for the report's envelope and no server to take it.
    disk.fill();
    EXPECT_FALSE(run({}));
    EXPECT_EQ(crashFiles(), 1);

    // Still no room, but the server comes back while the run lasts: the report goes from
    // memory, and only then its file.
    runLogged({"--linger-ms", "2500"}, 500ms);
    EXPECT_EQ(fatalEventsAccepted(), 1);
    EXPECT_EQ(crashFiles(), 0);

    disk.free();
    EXPECT_FALSE(run({}));
    EXPECT_EQ(fatalEventsAccepted(), 1);
}

} // namespace
