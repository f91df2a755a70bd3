#include "LogCapture.h"
#include "LoopbackHttpServer.h"
#include "SdkTestSupport.h"
#include "StalledFile.h"
#include "sdk/SentrySDK.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using namespace SdkTestSupport;

class SentrySDKTest : public ::testing::Test {
protected:
    SentryOptions options(bool sessions = true) const {
        SentryOptions options;
        options.enableAutoSessionTracking = sessions;
        options.dsn = dsnFor(server);
        options.sendDefaultPii = true;
        options.releaseName = QStringLiteral("com.app.pixaloom@1.2.3");
        options.enableCrashHandler = false; // crashes are tested in child processes
        options.cacheDirectoryPath = cache.path();
        options.networkRetryInterval = 100ms;
        options.requestTimeout = 500ms;
        return options;
    }
    QString envelopeFolder() const { return cache.filePath(QStringLiteral("envelopes")); }
    bool waitForAccepted(std::size_t count) {
        return LoopbackHttpServer::waitUntil([&] { return server.accepted().size() >= count; });
    }

    LoopbackHttpServer server;
    QTemporaryDir cache;
};

TEST_F(SentrySDKTest, MessagesTravelAsEnvelopesWithAuthAndContexts) {
    SentrySDK sdk;
    sdk.start(options());
    sdk.captureMessage(QStringLiteral("Pixaloom application started"));
    ASSERT_TRUE(waitForAccepted(2)); // the session's start, then the message

    const auto requests = server.accepted();
    for (const auto& request : requests) {
        EXPECT_EQ(request.target, "/api/42/envelope/");
        EXPECT_EQ(request.header("Content-Type"), "application/x-sentry-envelope");
        EXPECT_EQ(request.header("X-Sentry-Auth"),
                  "Sentry sentry_key=0123456789abcdef0123456789abcdef, sentry_version=7, "
                  "sentry_client=pixaloom.sentry/1.0.0");
    }
    const auto sent = envelopes(requests);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_TRUE(sent[1].header.contains(QStringLiteral("sent_at")));
    const auto events = items(sent, QStringLiteral("event"));
    ASSERT_EQ(events.size(), 1u);
    const QJsonObject& event = events[0];
    EXPECT_EQ(sent[1].header.value("event_id"), event.value("event_id"));
    EXPECT_EQ(event.value("level").toString(), "info");
    EXPECT_EQ(valueAt(event, "message/formatted").toString(), "Pixaloom application started");
    EXPECT_EQ(event.value("release").toString(), "com.app.pixaloom@1.2.3");
    EXPECT_EQ(event.value("environment").toString(), "production");
    EXPECT_EQ(event.value("event_id").toString().size(), 32);
    const auto contexts = event.value("contexts").toObject();
    EXPECT_EQ(contexts.value("os").toObject().value("name").toString(), "Linux");
    EXPECT_FALSE(contexts.value("app").toObject().value("app_version").toString().isEmpty());
    EXPECT_EQ(event.value("user").toObject().value("ip_address").toString(), "{{auto}}");

    const auto sessions = items(sent, QStringLiteral("session"));
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_TRUE(sessions[0].value("init").toBool());
    EXPECT_EQ(sessions[0].value("status").toString(), "ok");
    EXPECT_EQ(sessions[0].value("attrs").toObject().value("release").toString(),
              "com.app.pixaloom@1.2.3");
}

TEST_F(SentrySDKTest, ErrorsMarkTheSessionAndClosingEndsItExited) {
    SentrySDK sdk;
    sdk.start(options());
    sdk.captureError(
        {QStringLiteral("Pixaloom.PixaloomError"), 2, QStringLiteral("apiError(500, \"boom\")")});
    sdk.captureMessage(QStringLiteral("Unexpected reply"));
    sdk.close();
    ASSERT_TRUE(waitForAccepted(4));

    const auto sent = envelopes(server.accepted());
    const auto events = items(sent, QStringLiteral("event"));
    ASSERT_EQ(events.size(), 2u);
    const QJsonValue exception = valueAt(events[0], "exception/values/0");
    EXPECT_EQ(events[0].value("level").toString(), "error");
    EXPECT_EQ(valueAt(exception, "type").toString(), "Pixaloom.PixaloomError");
    EXPECT_EQ(valueAt(exception, "value").toString(), "apiError(500, \"boom\") (Code: 2)");
    EXPECT_EQ(valueAt(exception, "mechanism/meta/ns_error/code").toInt(), 2);

    const auto sessions = items(sent, QStringLiteral("session"));
    ASSERT_EQ(sessions.size(), 3u); // start, the error, the end; a message is no session error
    EXPECT_EQ(sessions[1].value("errors").toInt(), 1);
    EXPECT_FALSE(sessions[1].value("init").toBool());
    EXPECT_EQ(sessions[2].value("status").toString(), "exited");
    EXPECT_EQ(sessions[2].value("errors").toInt(), 1);
    EXPECT_EQ(sessions[2].value("sid"), sessions[0].value("sid"));
    EXPECT_EQ(fileCount(envelopeFolder()), 0);
    // The record other layers observe keeps every call in order.
    ASSERT_EQ(sdk.reports().size(), 2u);
    EXPECT_EQ(sdk.reports()[0].kind, SentrySDK::Report::Kind::error);
    EXPECT_EQ(sdk.reports()[1].message, "Unexpected reply");
}

TEST_F(SentrySDKTest, AnEmptyOrInvalidDsnStoresAndSendsNothing) {
    for (const QString& dsn : {QString(), QStringLiteral("no dsn at all")}) {
        auto configured = options();
        configured.dsn = dsn;
        SentrySDK sdk;
        sdk.start(configured);
        sdk.captureMessage(QStringLiteral("hello"));
        sdk.captureError({QStringLiteral("Domain"), 1, QStringLiteral("failed")});
        sdk.close();
        EXPECT_FALSE(sdk.isEnabled());
        EXPECT_EQ(sdk.reports().size(), 2u);
        EXPECT_TRUE(QDir(cache.path()).isEmpty());
    }
    EXPECT_TRUE(server.requests().empty());
}

std::size_t acceptedMessages(const LoopbackHttpServer& server, const QString& text) {
    std::size_t count = 0;
    for (const auto& event : items(envelopes(server.accepted()), QStringLiteral("event")))
        count += valueAt(event, "message/formatted").toString() == text;
    return count;
}

TEST_F(SentrySDKTest, RepliesDecideWhetherAnEnvelopeIsRetriedOrDropped) {
    struct Case {
        const char* name;
        LoopbackHttpServer::Reply first;
        std::size_t accepted;
    };
    const Case cases[] = {
        {"rate limited, then sent once the limit ends", {429, {{"Retry-After", "1"}}, "", 0ms}, 1},
        {"server error, then sent again", {503, {}, "", 0ms}, 1},
        {"stalled past the time-out, then sent again", {200, {}, "", 1500ms}, 1},
        {"refused for good", {400, {}, "", 0ms}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer local;
        local.script({c.first});
        QTemporaryDir folder;
        auto configured = options(false);
        configured.dsn = dsnFor(local);
        configured.cacheDirectoryPath = folder.path();
        SentrySDK sdk;
        sdk.start(configured);
        sdk.captureMessage(QStringLiteral("once"));
        if (c.accepted > 0)
            ASSERT_TRUE(LoopbackHttpServer::waitUntil(
                [&] { return acceptedMessages(local, QStringLiteral("once")) > 0; }));
        else
            ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return !local.requests().empty(); }));
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(acceptedMessages(local, QStringLiteral("once")), c.accepted);
        EXPECT_EQ(fileCount(folder.filePath(QStringLiteral("envelopes"))), 0);
    }
}

TEST_F(SentrySDKTest, AStalledDiskHoldsUpNeitherStartNorCaptures) {
    // The last run's session is the first thing the worker reads from the cache.
    StalledFile stalled(cache.filePath(QStringLiteral("session.current")));
    SentrySDK sdk;
    sdk.start(options());
    sdk.captureMessage(QStringLiteral("while the disk stalls"));
    // Had start or the capture waited for the disk, the file would have released itself.
    ASSERT_TRUE(stalled.release({}));
    ASSERT_TRUE(LoopbackHttpServer::waitUntil(
        [&] { return acceptedMessages(server, QStringLiteral("while the disk stalls")) == 1; }));
}

TEST_F(SentrySDKTest, ARateLimitedCategoryWaitsWhileOthersGo) {
    auto configured = options(false);
    server.script({{200, {{"X-Sentry-Rate-Limits", "1:default:key"}}, "", 0ms}});
    SentrySDK sdk;
    sdk.start(configured);
    sdk.captureMessage(QStringLiteral("first"));
    ASSERT_TRUE(waitForAccepted(1));
    sdk.captureMessage(QStringLiteral("held"));
    sdk.captureError({QStringLiteral("Domain"), 1, QStringLiteral("goes")});
    ASSERT_TRUE(waitForAccepted(2));
    EXPECT_EQ(acceptedMessages(server, QStringLiteral("held")), 0u);
    EXPECT_EQ(items(envelopes(server.accepted()), QStringLiteral("event"))[1].value("level"),
              "error");
    ASSERT_TRUE(waitForAccepted(3));
    EXPECT_EQ(acceptedMessages(server, QStringLiteral("held")), 1u);
}

TEST_F(SentrySDKTest, AFullCacheDropsTheOldestAndCountsThem) {
    server.refuseConnections();
    LogCapture logs;
    {
        auto configured = options(false);
        configured.maxCacheItems = 3;
        configured.shutdownTimeInterval = 200ms;
        SentrySDK sdk;
        sdk.start(configured);
        for (int i = 1; i <= 5; ++i)
            sdk.captureMessage(QString::number(i));
        sdk.close();
    }
    EXPECT_EQ(fileCount(envelopeFolder()), 3);
    EXPECT_TRUE(
        logs.messages(QStringLiteral("com.app.pixaloom.SentrySDK"))
            .contains(QStringLiteral("Envelope cache full: dropped the oldest, 1 dropped so far")));

    server.acceptConnections();
    auto configured = options(false);
    SentrySDK next;
    next.start(configured);
    ASSERT_TRUE(waitForAccepted(3));
    QStringList texts;
    for (const auto& event : items(envelopes(server.accepted()), QStringLiteral("event")))
        texts << valueAt(event, "message/formatted").toString();
    EXPECT_EQ(texts, QStringList({"3", "4", "5"}));
}

bool sessionItemsAmong(const SentryEnvelope& envelope) {
    return std::ranges::any_of(envelope.items,
                               [](const auto& item) { return item.type == "session"; });
}

TEST_F(SentrySDKTest, AFailingEnvelopeWaitsWhileOthersGoAndIsGivenUpAfterFiveFailures) {
    server.setResponder([](const LoopbackHttpServer::Request& request) {
        return request.body.contains("stuck") ? std::optional(LoopbackHttpServer::Reply{500})
                                              : std::nullopt;
    });
    const auto stuckRequests = [&] {
        return std::ranges::count_if(server.requests(),
                                     [](const auto& r) { return r.body.contains("stuck"); });
    };
    auto configured = options(false);
    configured.networkRetryInterval = 250ms; // pauses of 0.25, 0.5, 1 and 2 s
    LogCapture logs;
    SentrySDK sdk;
    sdk.start(configured);
    sdk.captureMessage(QStringLiteral("stuck"));
    ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return stuckRequests() == 1; }));
    sdk.captureMessage(QStringLiteral("next"));
    // It goes at once, not after the failing one's next try.
    ASSERT_TRUE(LoopbackHttpServer::waitUntil(
        [&] { return acceptedMessages(server, QStringLiteral("next")) == 1; }));
    EXPECT_EQ(stuckRequests(), 1);

    ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return fileCount(envelopeFolder()) == 0; }));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(stuckRequests(), 5);
    EXPECT_TRUE(logs.messages(QStringLiteral("com.app.pixaloom.SentrySDK"))
                    .contains("The server failed to take an envelope 5 times (last status 500); "
                              "it is discarded"));
}

TEST_F(SentrySDKTest, ACrashReportOutlastsTheBoundOfOtherEnvelopes) {
    // A crash of an earlier run, as its handler left it.
    ASSERT_TRUE(writeFile(cache.filePath(QStringLiteral("crashes/0123.crash")),
                          R"({"event_id":"0123456789abcdef0123456789abcdef","level":"fatal",)"
                          R"("exception":{"values":[{"type":"SIGSEGV","value":"Segfault"}]}})"));
    server.setDefaultReply({503});
    auto configured = options(false);
    configured.networkRetryInterval = 20ms;
    SentrySDK sdk;
    sdk.start(configured);
    ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return server.requests().size() >= 7; }));
    EXPECT_EQ(fileCount(envelopeFolder()), 1);
    server.setDefaultReply({200});
    ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return fileCount(envelopeFolder()) == 0; }));
    const auto crashes = items(envelopes(server.accepted()), QStringLiteral("event"));
    ASSERT_EQ(crashes.size(), 1u);
    EXPECT_EQ(crashes[0].value("level"), "fatal");
}

TEST_F(SentrySDKTest, ALimitedCategoryIsLeftOutAndTheRestGoesAtOnce) {
    // The session's start brings a long limit on sessions only.
    server.script({{200, {{"X-Sentry-Rate-Limits", "30:session:key"}}, "", 0ms}});
    SentrySDK sdk;
    sdk.start(options());
    ASSERT_TRUE(waitForAccepted(1));
    sdk.captureError({QStringLiteral("Domain"), 1, QStringLiteral("goes now")});
    ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return server.accepted().size() == 2; }, 3s));
    const auto sent = envelopes(server.accepted());
    EXPECT_FALSE(sessionItemsAmong(sent[1]));
    ASSERT_EQ(items({sent[1]}, QStringLiteral("event")).size(), 1u);
    EXPECT_TRUE(LoopbackHttpServer::waitUntil([&] { return fileCount(envelopeFolder()) == 0; }));
}

TEST_F(SentrySDKTest, ASessionStartPushedOutOfAFullCacheMarksTheNextUpdate) {
    server.refuseConnections();
    LogCapture logs;
    const auto logged = [&](const QString& start) {
        return std::ranges::any_of(logs.messages(QStringLiteral("com.app.pixaloom.SentrySDK")),
                                   [&](const QString& line) { return line.startsWith(start); });
    };
    auto configured = options();
    configured.maxCacheItems = 2;
    // Long enough that no send is under way while the cache fills: an evicted envelope
    // already on its way would still arrive.
    configured.networkRetryInterval = 1500ms;
    SentrySDK sdk;
    sdk.start(configured); // the session's start
    ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return logged("Could not send"); }));
    sdk.captureError({QStringLiteral("Domain"), 1, QStringLiteral("first")});
    sdk.captureError({QStringLiteral("Domain"), 2, QStringLiteral("second")}); // start drops out
    ASSERT_TRUE(LoopbackHttpServer::waitUntil(
        [&] { return logged("Envelope cache full: dropped the oldest, 1 dropped so far"); }));
    server.acceptConnections();
    ASSERT_TRUE(waitForAccepted(2));
    const auto sessions = items(envelopes(server.accepted()), QStringLiteral("session"));
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0].value("errors").toInt(), 1);
    EXPECT_TRUE(sessions[0].value("init").toBool());
    EXPECT_FALSE(sessions[1].value("init").toBool());
}

TEST_F(SentrySDKTest, ADamagedCachedEnvelopeIsDiscardedAndTheRestSent) {
    const auto put = [&](const QString& name, const QByteArray& contents) {
        ASSERT_TRUE(writeFile(QDir(envelopeFolder()).filePath(name), contents));
    };
    put(QStringLiteral("000000000000001-00000000-00000000.envelope"),
        "{}\n{\"type\":\"event\",\"length\":1e300}\n{}\n");
    put(QStringLiteral("000000000000002-00000000-00000000.envelope"),
        "{}\n{\"type\":\"event\",\"length\":33}\n"
        "{\"message\":{\"formatted\":\"whole\"}}\n");
    auto configured = options(false);
    SentrySDK sdk;
    sdk.start(configured);
    ASSERT_TRUE(waitForAccepted(1));
    EXPECT_EQ(acceptedMessages(server, QStringLiteral("whole")), 1u);
    ASSERT_TRUE(LoopbackHttpServer::waitUntil([&] { return fileCount(envelopeFolder()) == 0; }));
    EXPECT_EQ(server.requests().size(), 1u);
}

} // namespace
