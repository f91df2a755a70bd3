#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <map>
#include <optional>

// The server's rate limits per data category ("error", "default", "session", ...), learned
// from X-Sentry-Rate-Limits on any response, else from Retry-After on a 429.
class SentryRateLimits {
public:
    using Clock = std::chrono::steady_clock;

    void update(int status, const QByteArray& retryAfter, const QByteArray& rateLimits,
                Clock::time_point now);
    bool isLimited(const QString& category, Clock::time_point now) const;
    // When the limit on `category` (or on every category) ends; nothing when not limited.
    std::optional<Clock::time_point> limitedUntil(const QString& category,
                                                  Clock::time_point now) const;

private:
    void limit(const QString& category, Clock::time_point until);

    // The empty category stands for all of them.
    std::map<QString, Clock::time_point> deadlines;
};
