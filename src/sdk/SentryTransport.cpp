#include "sdk/SentryTransport.h"

#include "platform/Logger.h"
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>

namespace {
const Logger& logger() {
    static const Logger instance{QStringLiteral("com.app.pixaloom"), QStringLiteral("SentrySDK")};
    return instance;
}
// The first drop and every hundredth: a full queue must not flood the log.
bool isWorthLogging(int dropped) {
    return dropped == 1 || dropped % 100 == 0;
}
} // namespace

SentryTransport::SentryTransport(Settings settings)
    : settings(std::move(settings))
    , cache(this->settings.directory, QStringLiteral(".envelope"), this->settings.maxCacheItems)
    , draining([this] {
        if (inFlight)
            inFlight->abort();
        retryTimer.stop();
        wakeTimer.stop();
    }) {
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &SentryTransport::sendPending);
    wakeTimer.setSingleShot(true);
    connect(&wakeTimer, &QTimer::timeout, this, &SentryTransport::sendPending);
    cache.onEvicted([this](const QByteArray& evicted) { keepSessionStarts(evicted); });
}

SentryTransport::~SentryTransport() {
    if (inFlight)
        inFlight->abort();
    if (cache.writeHeld() > 0)
        logger().error("Lost %d envelopes that could not be written to %s", cache.heldCount(),
                       cache.directory());
}

bool SentryTransport::open() {
    return cache.open();
}

void SentryTransport::store(const QByteArray& envelope, const QString& replaces) {
    const int droppedBefore = cache.droppedCount();
    if (!cache.push(envelope, replaces))
        logger().error("Could not cache an envelope in %s; it is kept in memory and written "
                       "again later",
                       cache.directory());
    if (cache.droppedCount() > droppedBefore && isWorthLogging(cache.droppedCount()))
        logger().error("Envelope cache full: dropped the oldest, %d dropped so far",
                       cache.droppedCount());
    carryInitFlags();
    sendPending();
}

void SentryTransport::keepSessionStarts(const QByteArray& evicted) {
    const auto envelope = SentryEnvelope::parse(evicted);
    if (!envelope)
        return;
    for (const auto& item : envelope->items) {
        if (item.type != QLatin1String("session"))
            continue;
        const auto session = QJsonDocument::fromJson(item.payload).object();
        if (session.value(QStringLiteral("init")).toBool())
            sessionsToStart.insert(session.value(QStringLiteral("sid")).toString());
    }
}

void SentryTransport::carryInitFlags() {
    for (const auto& path : cache.items()) {
        if (sessionsToStart.empty())
            return;
        const auto bytes = cache.read(path);
        auto envelope = bytes ? SentryEnvelope::parse(*bytes) : std::nullopt;
        if (!envelope)
            continue;
        bool changed = false;
        for (auto& item : envelope->items) {
            if (item.type != QLatin1String("session"))
                continue;
            auto session = QJsonDocument::fromJson(item.payload).object();
            if (!sessionsToStart.erase(session.value(QStringLiteral("sid")).toString()))
                continue;
            session.insert(QStringLiteral("init"), true);
            item.payload = QJsonDocument(session).toJson(QJsonDocument::Compact);
            changed = true;
        }
        if (changed && !cache.rewrite(path, envelope->serialize()))
            logger().error("Could not rewrite the envelope %s", path);
    }
}

void SentryTransport::sendPending() {
    cache.writeHeld();
    if (inFlight || retryTimer.isActive())
        return;
    const auto now = Clock::now();
    std::optional<Clock::time_point> wakeAt;
    const auto wakeNoLaterThan = [&](Clock::time_point until) {
        wakeAt = std::min(wakeAt.value_or(until), until);
    };
    const std::deque<QString> paths = cache.items();
    for (const auto& path : paths) {
        if (const auto paused = pausedUntil.find(path);
            paused != pausedUntil.end() && paused->second > now) {
            wakeNoLaterThan(paused->second);
            continue;
        }
        const auto bytes = cache.read(path);
        auto envelope = bytes ? SentryEnvelope::parse(*bytes) : std::nullopt;
        if (!envelope) {
            logger().error("Discarded an unreadable envelope %s", path);
            discard(path);
            return sendPending();
        }
        // Items of a limited category are left out; the rest go now.
        std::vector<SentryEnvelope::Item> sendable;
        for (auto& item : envelope->items) {
            if (const auto until = rateLimits.limitedUntil(SentryEnvelope::category(item), now))
                wakeNoLaterThan(*until);
            else
                sendable.push_back(std::move(item));
        }
        if (sendable.empty())
            continue; // waits in the cache for its limit to end
        envelope->items = std::move(sendable);
        return send(path, std::move(*envelope));
    }
    if (wakeAt)
        wakeTimer.start(std::chrono::duration_cast<std::chrono::milliseconds>(*wakeAt - now) +
                        std::chrono::milliseconds(1));
    draining.finish();
}

void SentryTransport::send(const QString& path, SentryEnvelope envelope) {
    // sent_at is the moment of transmission, so it is added here and never stored.
    envelope.header.insert(QStringLiteral("sent_at"),
                           QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    QNetworkRequest request(settings.endpoint);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-sentry-envelope"));
    request.setHeader(QNetworkRequest::UserAgentHeader, settings.userAgent);
    request.setRawHeader("X-Sentry-Auth", settings.authHeader);
    request.setTransferTimeout(static_cast<int>(settings.requestTimeout.count()));
    inFlight = network.post(request, envelope.serialize());
    QNetworkReply* reply = inFlight;
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, path] { handleReply(reply, path); });
}

void SentryTransport::discard(const QString& path) {
    cache.remove(path);
    pausedUntil.erase(path);
    ++discarded;
}

void SentryTransport::handleReply(QNetworkReply* reply, const QString& path) {
    reply->deleteLater();
    inFlight = nullptr;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.toInt();
    rateLimits.update(status, reply->rawHeader("Retry-After"),
                      reply->rawHeader("X-Sentry-Rate-Limits"), Clock::now());
    if (!statusAttribute.isValid()) {
        // No answer: the network or the server is away, which is no fault of this envelope.
        logger().info("Could not send an envelope (%s); trying again later", reply->errorString());
        retryTimer.start(settings.retryInterval);
        return draining.finish();
    }
    if (status >= 200 && status < 300) {
        cache.remove(path);
        pausedUntil.erase(path);
        return sendPending();
    }
    if (status == 429)
        return sendPending(); // the envelope waits for the limit it just learned
    if (status >= 400 && status < 500) {
        // The server will never take it: keeping it would block the cache for good.
        logger().error("The server refused an envelope with status %d; it is discarded", status);
        discard(path);
        return sendPending();
    }
    handleServerFailure(path, status);
    sendPending();
}

void SentryTransport::handleServerFailure(const QString& path, int status) {
    const auto bytes = cache.read(path);
    const auto envelope = bytes ? SentryEnvelope::parse(*bytes) : std::nullopt;
    const int limit =
        envelope && envelope->holdsCrash() ? settings.maxCrashFailures : settings.maxFailures;
    pausedUntil.erase(path);
    const int failures = cache.failures(path) + 1;
    if (failures >= limit) {
        logger().error("The server failed to take an envelope %d times (last status %d); it is "
                       "discarded",
                       failures, status);
        return discard(path);
    }
    const QString renamed = cache.recordFailure(path).value_or(path);
    // Doubling from the retry interval, at most an hour with the usual minute.
    const auto pause = settings.retryInterval * (1 << std::min(failures - 1, 6));
    pausedUntil[renamed] = Clock::now() + std::min(pause, settings.retryInterval * 60);
    logger().info("The server failed to take an envelope (status %d, attempt %d of %d); "
                  "trying it again later",
                  status, failures, limit);
}

void SentryTransport::drain(std::chrono::milliseconds timeout, std::function<void()> done) {
    draining.start(timeout, std::move(done));
    // Closing is the last chance in this run: try now even while waiting to retry.
    retryTimer.stop();
    sendPending();
}
