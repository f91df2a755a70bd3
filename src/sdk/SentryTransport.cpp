#include "sdk/SentryTransport.h"

#include "platform/Logger.h"
#include "sdk/SentryEnvelope.h"

#include <QDateTime>
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
        rateLimitTimer.stop();
    }) {
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &SentryTransport::sendPending);
    rateLimitTimer.setSingleShot(true);
    connect(&rateLimitTimer, &QTimer::timeout, this, &SentryTransport::sendPending);
}

SentryTransport::~SentryTransport() {
    if (inFlight)
        inFlight->abort();
}

bool SentryTransport::open() {
    return cache.open();
}

void SentryTransport::store(const QByteArray& envelope) {
    const int droppedBefore = cache.droppedCount();
    if (!cache.push(envelope))
        logger().error("Could not cache an envelope in %s", cache.directory());
    if (cache.droppedCount() > droppedBefore && isWorthLogging(cache.droppedCount()))
        logger().error("Envelope cache full: dropped the oldest, %d dropped so far",
                       cache.droppedCount());
    sendPending();
}

void SentryTransport::sendPending() {
    if (inFlight || retryTimer.isActive())
        return;
    const auto now = SentryRateLimits::Clock::now();
    std::optional<SentryRateLimits::Clock::time_point> firstExpiry;
    for (const auto& path : cache.items()) {
        auto bytes = cache.read(path);
        auto envelope = bytes ? SentryEnvelope::parse(*bytes) : std::nullopt;
        if (!envelope) {
            cache.remove(path);
            ++discarded;
            return sendPending();
        }
        // A rate-limited envelope waits in the cache for its limit to end; later envelopes
        // of other categories may go before it.
        std::optional<SentryRateLimits::Clock::time_point> limitedUntil;
        for (const auto& item : envelope->items)
            if (const auto until = rateLimits.limitedUntil(SentryEnvelope::category(item), now))
                limitedUntil = std::max(limitedUntil.value_or(*until), *until);
        if (limitedUntil) {
            firstExpiry = std::min(firstExpiry.value_or(*limitedUntil), *limitedUntil);
            continue;
        }
        return send(path, std::move(*bytes));
    }
    if (firstExpiry)
        rateLimitTimer.start(
            std::chrono::duration_cast<std::chrono::milliseconds>(*firstExpiry - now) +
            std::chrono::milliseconds(1));
    draining.finish();
}

void SentryTransport::send(const QString& path, QByteArray bytes) {
    // sent_at is the moment of transmission, so it is added here and never stored.
    auto envelope = SentryEnvelope::parse(bytes);
    envelope->header.insert(QStringLiteral("sent_at"),
                            QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    QNetworkRequest request(settings.endpoint);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-sentry-envelope"));
    request.setHeader(QNetworkRequest::UserAgentHeader, settings.userAgent);
    request.setRawHeader("X-Sentry-Auth", settings.authHeader);
    request.setTransferTimeout(static_cast<int>(settings.requestTimeout.count()));
    inFlight = network.post(request, envelope->serialize());
    QNetworkReply* reply = inFlight;
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, path] { handleReply(reply, path); });
}

void SentryTransport::handleReply(QNetworkReply* reply, const QString& path) {
    reply->deleteLater();
    inFlight = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    rateLimits.update(status, reply->rawHeader("Retry-After"),
                      reply->rawHeader("X-Sentry-Rate-Limits"), SentryRateLimits::Clock::now());
    if (status >= 200 && status < 300) {
        cache.remove(path);
        return sendPending();
    }
    if (status == 429)
        return sendPending(); // the envelope waits for the limit it just learned
    if (status >= 400 && status < 500) {
        // The server will never take it: keeping it would block the cache for good.
        logger().error("The server refused an envelope with status %d; it is discarded", status);
        cache.remove(path);
        ++discarded;
        return sendPending();
    }
    // No answer or a server error: keep it and try again later.
    logger().info("Could not send an envelope (status %d, %s); trying again later", status,
                  reply->errorString());
    retryTimer.start(settings.retryInterval);
    draining.finish();
}

void SentryTransport::drain(std::chrono::milliseconds timeout, std::function<void()> done) {
    draining.start(timeout, std::move(done));
    // Closing is the last chance in this run: try now even while waiting to retry.
    retryTimer.stop();
    sendPending();
}
