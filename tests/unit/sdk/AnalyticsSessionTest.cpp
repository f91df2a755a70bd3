#include "LoopbackHttpServer.h"
#include "SdkTestSupport.h"
#include "sdk/PostHogQueue.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using namespace SdkTestSupport;

TEST(AnalyticsSession, SessionIdsAreUuidV7RotatedWhenIdleOrOld) {
    LoopbackHttpServer server;
    QTemporaryDir storage;
    PostHogConfig config(QStringLiteral("phc_testkey"), server.baseUrl());
    config.flushIntervalSeconds = 3600;
    config.storageDirectoryPath = storage.path();
    config.dataDirectoryPath = storage.path();
    PostHogQueue queue(config);
    queue.open();

    const QDateTime start = QDateTime::fromString("2026-03-01T08:00:00.000Z", Qt::ISODateWithMs);
    const auto minutes = [&](qint64 count) {
        return start.addSecs(count * 60);
    };
    struct Step {
        QDateTime time;
        bool newSession;
    };
    // Events every 29 minutes keep one session going until it is a day old.
    std::vector<Step> steps{
        {minutes(0), true}, {minutes(29), false}, {minutes(60), true}, {minutes(60 + 30), false}};
    for (qint64 at = 60 + 30 + 29; at < 60 + 24 * 60; at += 29)
        steps.push_back({minutes(at), false});
    steps.push_back({minutes(60 + 24 * 60), true});
    for (std::size_t i = 0; i < steps.size(); ++i)
        queue.add(QStringLiteral("e%1").arg(i), std::nullopt, steps[i].time,
                  QStringLiteral("uuid-%1").arg(i));
    queue.flush();
    ASSERT_TRUE(LoopbackHttpServer::waitUntil(
        [&] { return batchedEvents(server.accepted()).size() == steps.size(); }));

    const auto events = batchedEvents(server.accepted());
    const QRegularExpression v7(
        "^[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
    QString previous;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        const QString id = events[i].value("properties").toObject().value("$session_id").toString();
        EXPECT_TRUE(v7.match(id).hasMatch()) << id.toStdString();
        EXPECT_EQ(id != previous, steps[i].newSession);
        if (steps[i].newSession) {
            // The first 48 bits are the session's start in Unix milliseconds.
            const qint64 milliseconds = QString(id).remove(u'-').left(12).toLongLong(nullptr, 16);
            EXPECT_EQ(milliseconds, steps[i].time.toMSecsSinceEpoch());
        }
        previous = id;
    }
}

} // namespace
