#include "sdk/AnalyticsSession.h"

#include <QRandomGenerator>
#include <QUuid>

#include <algorithm>
#include <array>

QString AnalyticsSession::idAt(const QDateTime& time) {
    const qint64 now = time.toMSecsSinceEpoch();
    // A clock that stepped back counts as no time passed, not as a new session.
    const bool expired = now - lastEventMs > idleLimitMs || now - startedMs >= totalLimitMs;
    if (id.isEmpty() || expired) {
        id = uuidV7(now);
        startedMs = now;
    }
    lastEventMs = std::max(lastEventMs, now);
    return id;
}

QString AnalyticsSession::uuidV7(qint64 unixMilliseconds) {
    std::array<quint32, 4> random{};
    QRandomGenerator::system()->fillRange(random.data(), random.size());
    QByteArray bytes(16, Qt::Uninitialized);
    for (int i = 0; i < 16; ++i)
        bytes[i] = static_cast<char>(random[i / 4] >> (8 * (i % 4)));
    const auto milliseconds = static_cast<quint64>(std::max<qint64>(unixMilliseconds, 0));
    for (int i = 0; i < 6; ++i)
        bytes[i] = static_cast<char>(milliseconds >> (8 * (5 - i)));
    bytes[6] = static_cast<char>(0x70 | (bytes[6] & 0x0F)); // version 7
    bytes[8] = static_cast<char>(0x80 | (bytes[8] & 0x3F)); // RFC 4122 variant
    return QUuid::fromRfc4122(bytes).toString(QUuid::WithoutBraces);
}
