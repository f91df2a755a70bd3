#include "LoopbackHttpServer.h"
#include "SdkTestSupport.h"
#include "StalledFile.h"
#include "sdk/PostHogSDK.h"

#include "LogCapture.h"

#include <QFile>
#include <QJsonArray>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using namespace SdkTestSupport;

class PostHogSDKTest : public ::testing::Test {
protected:
    PostHogConfig config(const LoopbackHttpServer& target) const {
        PostHogConfig config(QStringLiteral("phc_testkey"), target.baseUrl());
        config.flushIntervalSeconds = 3600;
        config.storageDirectoryPath = storage.path();
        config.dataDirectoryPath = storage.path();
        config.retryDelay = 50ms;
        config.maxRetryDelay = 200ms;
        config.requestTimeout = 500ms;
        return config;
    }
    QString queueFolder() const { return storage.filePath(QStringLiteral("queue")); }

    LoopbackHttpServer server;
    QTemporaryDir storage;
};

TEST_F(PostHogSDKTest, BatchesCarryEventsInOrderWithTheirPropertiesFirst) {
    PostHogSDK sdk;
    sdk.setup(config(server));
    sdk.capture(QStringLiteral("app_launched"),
                {{QStringLiteral("version"), QStringLiteral("1.0")},
                 {QStringLiteral("build"), QStringLiteral("7")},
                 {QStringLiteral("os_version"), QStringLiteral("12")}});
    sdk.capture(QStringLiteral("edit_started"),
                {{QStringLiteral("prompt"), QStringLiteral("a \"quoted\"\nline")},
                 {QStringLiteral("improve_prompt"), true},
                 {QStringLiteral("image_width"), 640LL},
                 {QStringLiteral("scale"), 1.5}});
    sdk.capture(QStringLiteral("edit_success"));
    sdk.flush();
    ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return server.accepted().size() == 1; }));

    const auto request = server.accepted().front();
    EXPECT_EQ(request.target, "/batch/");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    const auto body = QJsonDocument::fromJson(request.body).object();
    EXPECT_EQ(body.value("api_key").toString(), "phc_testkey");
    EXPECT_TRUE(body.contains("sent_at"));
    const auto events = batchedEvents({request});
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].value("event").toString(), "app_launched");
    EXPECT_EQ(events[1].value("event").toString(), "edit_started");
    EXPECT_EQ(events[2].value("event").toString(), "edit_success");
    const auto edit = events[1].value("properties").toObject();
    EXPECT_EQ(edit.value("prompt").toString(), "a \"quoted\"\nline");
    EXPECT_EQ(edit.value("improve_prompt").toBool(), true);
    EXPECT_EQ(edit.value("image_width").toInt(), 640);
    EXPECT_EQ(edit.value("scale").toDouble(), 1.5);
    for (const char* standard : {"$lib", "$lib_version", "$os_name", "$app_version", "$session_id",
                                 "$device_type", "$locale", "$timezone"})
        EXPECT_TRUE(edit.contains(QLatin1String(standard))) << standard;
    EXPECT_EQ(edit.value("$os_name").toString(), "Linux");
    // The caller's properties keep their order, ahead of the standard ones.
    const auto at = [&](const char* key) {
        return request.body.toStdString().find(std::string("\"") + key + "\"");
    };
    EXPECT_LT(at("version"), at("build"));
    EXPECT_LT(at("build"), at("os_version"));
    EXPECT_LT(at("os_version"), at("$lib"));
    QSet<QString> uuids;
    for (const auto& event : events) {
        EXPECT_EQ(event.value("distinct_id"), events[0].value("distinct_id"));
        EXPECT_FALSE(event.value("timestamp").toString().isEmpty());
        uuids.insert(event.value("uuid").toString());
    }
    EXPECT_EQ(uuids.size(), 3);
    // The server records the batch before its answer reaches the queue.
    EXPECT_TRUE(LoopbackHttpServer::waitUntil([&] { return fileCount(queueFolder()) == 0; }));
}

TEST_F(PostHogSDKTest, TheAnonymousIdIsMadeOnceAndKept) {
    const auto distinctId = [&](const QString& dataFolder) {
        LoopbackHttpServer local;
        auto configured = config(local);
        configured.dataDirectoryPath = dataFolder;
        PostHogSDK sdk;
        sdk.setup(configured);
        sdk.capture(QStringLiteral("app_launched"));
        sdk.close();
        const auto events = batchedEvents(local.accepted());
        return events.empty() ? QString() : events[0].value("distinct_id").toString();
    };
    QTemporaryDir other;
    const QString first = distinctId(storage.path());
    EXPECT_FALSE(first.isEmpty());
    EXPECT_EQ(distinctId(storage.path()), first);
    EXPECT_NE(distinctId(other.path()), first);
}

TEST_F(PostHogSDKTest, AStalledDiskHoldsUpNoCapture) {
    StalledFile stalled(storage.filePath(QStringLiteral("anonymous_id")));
    PostHogSDK sdk;
    sdk.setup(config(server));
    sdk.capture(QStringLiteral("first"));
    sdk.capture(QStringLiteral("second"));
    sdk.flush();
    // Had a capture waited for the disk, the file would have released itself.
    ASSERT_TRUE(stalled.release("kept-id"));
    ASSERT_TRUE(LoopbackHttpServer::waitUntil(
        [&] { return batchedEvents(server.accepted()).size() == 2; }));
    const auto events = batchedEvents(server.accepted());
    EXPECT_EQ(events[0].value("event").toString(), "first");
    EXPECT_EQ(events[1].value("event").toString(), "second");
    for (const auto& event : events)
        EXPECT_EQ(event.value("distinct_id").toString(), "kept-id");
}

TEST_F(PostHogSDKTest, ABatchGoesAtTwentyEventsOrWhenTheTimerFires) {
    {
        PostHogSDK sdk;
        sdk.setup(config(server));
        for (int i = 0; i < 19; ++i)
            sdk.capture(QStringLiteral("e"));
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(server.requests().empty());
        sdk.capture(QStringLiteral("e"));
        ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return server.accepted().size() == 1; }));
        EXPECT_EQ(batchedEvents(server.accepted()).size(), 20u);
    }
    LoopbackHttpServer local;
    auto configured = config(local);
    configured.flushIntervalSeconds = 0.2;
    PostHogSDK timed;
    timed.setup(configured);
    timed.capture(QStringLiteral("alone"));
    ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return local.accepted().size() == 1; }, 3s));
}

TEST_F(PostHogSDKTest, FailedBatchesAreRetriedUntilSentOnce) {
    struct Case {
        const char* name;
        std::vector<LoopbackHttpServer::Reply> script;
        bool refuseFirst;
    };
    const Case cases[] = {
        {"server errors", {{503, {}, "", 0ms}, {500, {}, "", 0ms}}, false},
        {"rate limited", {{429, {{"Retry-After", "1"}}, "", 0ms}}, false},
        {"stalled past the time-out", {{200, {}, "", 1500ms}}, false},
        {"connection refused", {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer local;
        local.script(c.script);
        if (c.refuseFirst)
            local.refuseConnections();
        QTemporaryDir folder;
        auto configured = config(local);
        configured.storageDirectoryPath = folder.path();
        PostHogSDK sdk;
        sdk.setup(configured);
        for (int i = 0; i < 25; ++i)
            sdk.capture(QStringLiteral("e%1").arg(i));
        if (c.refuseFirst) {
            // Many more tries than the retry bound, each without an answer: waiting for the
            // network is no failed attempt.
            std::this_thread::sleep_for(1500ms);
            local.acceptConnections();
        }
        ASSERT_TRUE(LoopbackHttpServer::waitUntil(
            [&] { return batchedEvents(local.accepted()).size() >= 25; }, 8s));
        std::this_thread::sleep_for(200ms);
        const auto events = batchedEvents(local.accepted());
        QSet<QString> names;
        for (const auto& event : events)
            names.insert(event.value("event").toString());
        EXPECT_EQ(events.size(), 25u);
        EXPECT_EQ(names.size(), 25);
        EXPECT_EQ(fileCount(folder.filePath(QStringLiteral("queue"))), 0);
    }
}

TEST_F(PostHogSDKTest, BatchesTheServerCanNeverTakeAreDropped) {
    server.script({{400, {}, "", 0ms}});
    PostHogSDK sdk;
    sdk.setup(config(server));
    sdk.capture(QStringLiteral("bad"));
    sdk.flush();
    ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return server.requests().size() == 1; }));
    sdk.capture(QStringLiteral("good"));
    sdk.close();
    const auto events = batchedEvents(server.accepted());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].value("event").toString(), "good");
}

TEST_F(PostHogSDKTest, AnEmptyKeyStoresAndSendsNothing) {
    auto configured = config(server);
    configured.apiKey.clear();
    PostHogSDK sdk;
    sdk.setup(configured);
    sdk.capture(QStringLiteral("app_launched"), {{QStringLiteral("version"), QStringLiteral("1")}});
    sdk.flush();
    sdk.close();
    EXPECT_EQ(sdk.events().size(), 1u);
    EXPECT_TRUE(QDir(storage.path()).isEmpty());
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(PostHogSDKTest, ACorruptQueueFileIsSetAsideAndTheRestSent) {
    const auto put = [&](int index, const QByteArray& contents) {
        ASSERT_TRUE(writeFile(QDir(queueFolder())
                                  .filePath(QStringLiteral("%1-00000000-00000000.event")
                                                .arg(index, 15, 10, QLatin1Char('0'))),
                              contents));
    };
    const QByteArray event = R"({"event":"kept","distinct_id":"d","properties":{},)"
                             R"("timestamp":"2026-01-01T00:00:00.000Z","uuid":"u"})";
    put(1, event);
    put(2, event.left(event.size() / 2)); // cut short
    put(3, event);
    put(4, "[1,2]");
    put(5, event);
    LogCapture logs;
    PostHogSDK sdk;
    sdk.setup(config(server));
    sdk.capture(QStringLiteral("new")); // starts the worker, which sends what earlier runs left
    sdk.flush();
    ASSERT_TRUE(LoopbackHttpServer::waitUntil(
        [&] { return batchedEvents(server.accepted()).size() >= 4; }));
    const auto events = batchedEvents(server.accepted());
    EXPECT_EQ(events.size(), 4u);
    EXPECT_EQ(server.requests().size(), server.accepted().size()); // no batch was refused
    EXPECT_EQ(QDir(queueFolder()).entryList({"*.unreadable"}, QDir::Files).size(), 2);
    const auto lines = logs.messages(QStringLiteral("com.app.pixaloom.PostHogSDK"));
    EXPECT_EQ(std::ranges::count_if(lines,
                                    [](const QString& line) {
                                        return line.startsWith(
                                            "Set aside an unreadable analytics event file ");
                                    }),
              2);
}

TEST_F(PostHogSDKTest, AHugeRetryAfterIsCappedAndStillWaitedFor) {
    for (const QByteArray retryAfter : {"4294968", "99999999999999999999"}) {
        SCOPED_TRACE(retryAfter.constData());
        LoopbackHttpServer local;
        local.script({{503, {{"Retry-After", retryAfter}}, "", 0ms}});
        QTemporaryDir folder;
        auto configured = config(local);
        configured.storageDirectoryPath = folder.path();
        configured.flushIntervalSeconds = 0.1; // flushes keep coming while it waits
        PostHogSDK sdk;
        sdk.setup(configured);
        sdk.capture(QStringLiteral("waits"));
        sdk.flush();
        ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return local.requests().size() == 1; }));
        std::this_thread::sleep_for(1s);
        EXPECT_EQ(local.requests().size(), 1u);
    }
}

TEST_F(PostHogSDKTest, OnlyNamedStatusesAreRetriedAndOnlyThreeTimesMore) {
    struct Case {
        int status;
        std::size_t attempts; // before the batch is dropped
    };
    const Case cases[] = {{503, 4}, {500, 4}, {307, 4}, {501, 1}, {505, 1}, {400, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        LoopbackHttpServer local;
        local.setDefaultReply({c.status});
        QTemporaryDir folder;
        auto configured = config(local);
        configured.storageDirectoryPath = folder.path();
        LogCapture logs;
        PostHogSDK sdk;
        sdk.setup(configured);
        sdk.capture(QStringLiteral("failing"));
        sdk.flush();
        ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return !local.requests().empty(); }));
        ASSERT_TRUE(LoopbackHttpServer::waitUntil(
            [&] { return fileCount(folder.filePath(QStringLiteral("queue"))) == 0; }, 5s));
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(local.requests().size(), c.attempts);
        if (c.attempts > 1) {
            EXPECT_TRUE(logs.messages(QStringLiteral("com.app.pixaloom.PostHogSDK"))
                            .contains(QStringLiteral("Dropped 1 analytics events after 4 failed "
                                                     "attempts (last status %1)")
                                          .arg(c.status)));
        }
    }
}

} // namespace
