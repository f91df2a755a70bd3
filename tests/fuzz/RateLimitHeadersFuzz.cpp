// Rate-limit headers as a server may send them: the first line is Retry-After, the rest
// X-Sentry-Rate-Limits, on a 429 and on a 200. No limit outlasts a day, and a 429 always
// holds everything back for a moment.
#include "FuzzCheck.h"
#include "sdk/SentryRateLimits.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype lineEnd = input.indexOf('\n');
    const QByteArray retryAfter = lineEnd < 0 ? input : input.left(lineEnd);
    const QByteArray rateLimits = lineEnd < 0 ? QByteArray() : input.mid(lineEnd + 1);
    const auto now = SentryRateLimits::Clock::now();
    const auto afterADay = now + std::chrono::hours(24) + std::chrono::seconds(1);
    for (const int status : {429, 200}) {
        SentryRateLimits limits;
        limits.update(status, retryAfter, rateLimits, now);
        for (const char* category : {"", "error", "default", "session", "attachment"})
            FUZZ_CHECK(!limits.isLimited(QString::fromLatin1(category), afterADay));
        if (status == 429)
            FUZZ_CHECK(limits.isLimited(QStringLiteral("error"), now));
    }
    return 0;
}
