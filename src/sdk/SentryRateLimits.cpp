#include "sdk/SentryRateLimits.h"

#include <QList>

#include <algorithm>
#include <cmath>

namespace {
// A limit longer than a day is taken as a day: a wrong header must not silence us for ever.
constexpr std::chrono::seconds longestLimit{24 * 60 * 60};
constexpr std::chrono::seconds limitWithoutHeaders{60};
constexpr std::chrono::seconds shortestLimitAfter429{1};

// A number of seconds, capped at a day before it becomes an integer: converting a double
// past the integer range is undefined, and in practice it left the category unlimited.
// Text that is not a number, or a negative or NaN one, gives `fallback`.
std::chrono::milliseconds parseSeconds(const QByteArray& text, std::chrono::seconds fallback) {
    bool ok = false;
    const double seconds = text.trimmed().toDouble(&ok);
    if (!ok || !(seconds >= 0))
        return fallback;
    const double capped = std::min(seconds, static_cast<double>(longestLimit.count()));
    return std::chrono::milliseconds(std::llround(capped * 1000));
}
} // namespace

void SentryRateLimits::update(int status, const QByteArray& retryAfter,
                              const QByteArray& rateLimits, Clock::time_point now) {
    if (!rateLimits.trimmed().isEmpty()) {
        for (const auto& limitText : rateLimits.split(',')) {
            const auto fields = limitText.trimmed().split(':');
            if (fields.isEmpty() || fields.front().isEmpty())
                continue;
            const auto until = now + parseSeconds(fields.front(), limitWithoutHeaders);
            const QByteArray categories = fields.size() > 1 ? fields.at(1) : QByteArray();
            if (categories.trimmed().isEmpty()) {
                limit(QString(), until);
                continue;
            }
            for (const auto& category : categories.split(';'))
                if (!category.trimmed().isEmpty())
                    limit(QString::fromLatin1(category.trimmed()), until);
        }
    } else if (status == 429) {
        limit(QString(), now + parseSeconds(retryAfter, limitWithoutHeaders));
    }
    // A 429 always holds everything back a moment: one that asks for no wait at all would
    // otherwise have the envelope sent again at once, over and over.
    if (status == 429)
        limit(QString(), now + shortestLimitAfter429);
}

void SentryRateLimits::limit(const QString& category, Clock::time_point until) {
    auto& deadline = deadlines[category];
    deadline = std::max(deadline, until);
}

std::optional<SentryRateLimits::Clock::time_point>
SentryRateLimits::limitedUntil(const QString& category, Clock::time_point now) const {
    std::optional<Clock::time_point> until;
    for (const auto& key : {QString(), category}) {
        const auto it = deadlines.find(key);
        if (it != deadlines.end() && it->second > now)
            until = std::max(until.value_or(it->second), it->second);
    }
    return until;
}

bool SentryRateLimits::isLimited(const QString& category, Clock::time_point now) const {
    return limitedUntil(category, now).has_value();
}
