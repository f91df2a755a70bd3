#include "sdk/PostHogQueue.h"

#include "platform/BundleInfo.h"
#include "platform/Logger.h"
#include "sdk/JsonText.h"
#include "sdk/WholeFile.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTimeZone>
#include <QUuid>

#include <algorithm>
#include <cmath>

namespace {
const Logger& logger() {
    static const Logger instance{QStringLiteral("com.app.pixaloom"), QStringLiteral("PostHogSDK")};
    return instance;
}

const QString libraryName = QStringLiteral("pixaloom-linux");
const QString libraryVersion = QStringLiteral("1.0.0");

AnalyticsProperties makeStandardProperties() {
    const auto& info = BundleInfo::main();
    const auto text = [&](const QString& key) {
        return info.string(key).value_or(QString());
    };
    return {
        {QStringLiteral("$lib"), libraryName},
        {QStringLiteral("$lib_version"), libraryVersion},
        {QStringLiteral("$os_name"), QStringLiteral("Linux")},
        {QStringLiteral("$os_version"), QSysInfo::productVersion()},
        {QStringLiteral("$app_name"), text(QStringLiteral("CFBundleName"))},
        {QStringLiteral("$app_version"), text(BundleInfo::shortVersionKey)},
        {QStringLiteral("$app_build"), text(BundleInfo::versionKey)},
        {QStringLiteral("$app_namespace"), text(QStringLiteral("CFBundleIdentifier"))},
        {QStringLiteral("$device_type"), QStringLiteral("Desktop")},
        {QStringLiteral("$locale"), QLocale::system().name()},
        {QStringLiteral("$timezone"), QString::fromUtf8(QTimeZone::systemTimeZoneId())},
        {QStringLiteral("$session_id"), QString()}, // per event, from the session
        {QStringLiteral("$is_identified"), false},
        {QStringLiteral("$process_person_profile"), false},
    };
}

const QString defaultHost = QStringLiteral("https://us.i.posthog.com");

QUrl batchEndpointOf(const PostHogConfig& config) {
    QString host = config.host.trimmed().isEmpty() ? defaultHost : config.host.trimmed();
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    return QUrl(host + QStringLiteral("/batch/"));
}

QDir folder(const QString& configured, QStandardPaths::StandardLocation location) {
    if (!configured.isEmpty())
        return QDir(configured);
    return QDir(QStandardPaths::writableLocation(location) + QStringLiteral("/pixaloom/posthog"));
}

std::chrono::milliseconds flushIntervalOf(const PostHogConfig& config) {
    return std::chrono::milliseconds(static_cast<long long>(config.flushIntervalSeconds * 1000));
}

// Answers worth another try later; every other failing status drops the batch at once.
bool isRetriable(int status) {
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 ||
           status == 504 || (status >= 300 && status < 400);
}

// A Retry-After in seconds, at most an hour: past that it is more likely a broken header than
// a wish, and a timer cannot take much more anyway. Capped while still a double, since a
// number of any size may come.
constexpr double longestRetryAfterSeconds = 60 * 60;

std::chrono::milliseconds retryAfterOf(const QNetworkReply& reply) {
    bool ok = false;
    const double seconds = reply.rawHeader("Retry-After").trimmed().toDouble(&ok);
    if (!ok || !(seconds > 0))
        return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(
        std::llround(std::min(seconds, longestRetryAfterSeconds) * 1000));
}

const QString sessionIdKey = QStringLiteral("$session_id");
// The first drop and every hundredth: a full queue must not flood the log.
bool isWorthLogging(int dropped) {
    return dropped == 1 || dropped % 100 == 0;
}
} // namespace

PostHogQueue::PostHogQueue(PostHogConfig configuration)
    : config(std::move(configuration))
    , batchEndpoint(batchEndpointOf(config))
    , anonymousIdPath(folder(config.dataDirectoryPath, QStandardPaths::GenericDataLocation)
                          .filePath(QStringLiteral("anonymous_id")))
    , queue(folder(config.storageDirectoryPath, QStandardPaths::GenericCacheLocation)
                .filePath(QStringLiteral("queue")),
            QStringLiteral(".event"), config.maxQueueSize)
    , draining([this] {
        if (inFlight)
            inFlight->abort();
        flushTimer.stop();
        retryTimer.stop();
    })
    , batchSize(std::max(1, config.maxBatchSize)) {
    flushTimer.setInterval(flushIntervalOf(config));
    connect(&flushTimer, &QTimer::timeout, this, &PostHogQueue::flush);
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &PostHogQueue::flush);
}

PostHogQueue::~PostHogQueue() {
    if (inFlight)
        inFlight->abort();
    if (queue.writeHeld() > 0)
        logger().error("Lost %d analytics events that could not be written to %s",
                       queue.heldCount(), queue.directory());
}

QString PostHogQueue::loadAnonymousId() const {
    if (const auto stored = WholeFile::read(anonymousIdPath)) {
        const QString id = QString::fromUtf8(stored->trimmed());
        if (!id.isEmpty())
            return id;
    }
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDir().mkpath(QFileInfo(anonymousIdPath).absolutePath());
    if (!WholeFile::write(anonymousIdPath, id.toUtf8()))
        logger().error("Could not keep the anonymous id in %s", anonymousIdPath);
    return id;
}

void PostHogQueue::open() {
    if (!queue.open())
        logger().error("Could not create the analytics queue in %s", queue.directory());
    anonymousId = loadAnonymousId();
    standardProperties = makeStandardProperties();
    flushTimer.start();
    if (queue.count() > 0)
        flush(); // what earlier runs could not send
}

void PostHogQueue::add(const QString& event, const std::optional<AnalyticsProperties>& properties,
                       const QDateTime& time, const QString& uuid) {
    AnalyticsProperties merged = properties.value_or(AnalyticsProperties{});
    const QString sessionId = session.idAt(time);
    for (const auto& standard : standardProperties) {
        const bool given = std::ranges::any_of(
            merged, [&](const auto& property) { return property.first == standard.first; });
        if (given)
            continue;
        if (standard.first == sessionIdKey)
            merged.emplace_back(standard.first, sessionId);
        else
            merged.push_back(standard);
    }
    const QByteArray json = "{\"event\":" + JsonText::quoted(event) +
                            ",\"distinct_id\":" + JsonText::quoted(anonymousId) +
                            ",\"properties\":{" + JsonText::members(merged) + "},\"timestamp\":" +
                            JsonText::quoted(time.toUTC().toString(Qt::ISODateWithMs)) +
                            ",\"uuid\":" + JsonText::quoted(uuid) + "}";
    const int droppedBefore = queue.droppedCount();
    if (!queue.push(json))
        logger().error("Could not queue the analytics event %s in %s; it is kept in memory and "
                       "written again later",
                       event, queue.directory());
    if (queue.droppedCount() > droppedBefore && isWorthLogging(queue.droppedCount()))
        logger().error("Analytics queue full: dropped the oldest event, %d dropped so far",
                       queue.droppedCount());
    if (queue.count() >= config.flushAt)
        flush();
}

void PostHogQueue::flush() {
    queue.writeHeld();
    if (inFlight || retryTimer.isActive())
        return;
    if (queue.count() == 0)
        return draining.finish();
    sendBatch();
}

void PostHogQueue::sendBatch() {
    std::vector<QString> paths;
    std::vector<QString> unreadable;
    QByteArray events;
    for (const auto& path : queue.items()) {
        if (static_cast<int>(paths.size()) >= batchSize)
            break;
        const auto json = queue.read(path);
        if (!json || !JsonText::isEvent(*json)) {
            unreadable.push_back(path);
            continue;
        }
        if (!events.isEmpty())
            events += ',';
        events += *json;
        paths.push_back(path);
    }
    for (const auto& path : unreadable) {
        // Pasted into the batch it would make the whole request invalid JSON.
        logger().error("Set aside an unreadable analytics event file %s", path);
        queue.setAside(path);
    }
    if (paths.empty())
        return flush();
    const QByteArray body =
        "{\"api_key\":" + JsonText::quoted(config.apiKey) + ",\"sent_at\":" +
        JsonText::quoted(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)) +
        ",\"batch\":[" + events + "]}";
    QNetworkRequest request(batchEndpoint);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setHeader(QNetworkRequest::UserAgentHeader, libraryName + '/' + libraryVersion);
    request.setTransferTimeout(static_cast<int>(config.requestTimeout.count()));
    inFlight = network.post(request, body);
    QNetworkReply* reply = inFlight;
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, paths] { handleReply(reply, paths); });
}

void PostHogQueue::handleReply(QNetworkReply* reply, const std::vector<QString>& paths) {
    reply->deleteLater();
    inFlight = nullptr;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.toInt();
    const int count = static_cast<int>(paths.size());
    if (status >= 200 && status < 300) {
        for (const auto& path : paths)
            queue.remove(path);
        failures = 0;
        failedAttempts = 0;
        return flush();
    }
    if (status == 413 && paths.size() > 1) {
        batchSize = std::max(1, count / 2);
        return flush();
    }
    if (!statusAttribute.isValid()) {
        // No answer: the network is away, which is no fault of the batch. The queue waits;
        // its cap bounds what piles up meanwhile.
        logger().info("Could not send %d analytics events (%s); trying again later", count,
                      reply->errorString());
        retryLater(std::chrono::milliseconds(0));
        return draining.finish();
    }
    if (isRetriable(status) && ++failedAttempts <= config.maxRetries) {
        logger().info("Could not send %d analytics events (status %d, %s); trying again later",
                      count, status, reply->errorString());
        retryLater(retryAfterOf(*reply));
        return draining.finish();
    }
    if (isRetriable(status))
        logger().error("Dropped %d analytics events after %d failed attempts (last status %d)",
                       count, failedAttempts, status);
    else // 400, 401, 403, a lone event still too large: sending again can never succeed.
        logger().error("The analytics server refused %d events with status %d; they are discarded",
                       count, status);
    for (const auto& path : paths)
        queue.remove(path);
    failedAttempts = 0;
    flush();
}

void PostHogQueue::retryLater(std::chrono::milliseconds serverDelay) {
    ++failures;
    const auto backOff = std::min(config.retryDelay * failures, config.maxRetryDelay);
    retryTimer.start(std::max({backOff, serverDelay, std::chrono::milliseconds(1)}));
}

void PostHogQueue::drain(std::chrono::milliseconds timeout, std::function<void()> done) {
    draining.start(timeout, std::move(done));
    // Quitting is the last chance in this run: try now even while backing off.
    retryTimer.stop();
    flush();
}
