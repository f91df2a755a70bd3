#include "sdk/SentryEnvelope.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

#include <cmath>

QByteArray SentryEnvelope::serialize() const {
    QByteArray bytes = QJsonDocument(header).toJson(QJsonDocument::Compact);
    for (const auto& item : items) {
        const QJsonObject itemHeader{{QStringLiteral("type"), item.type},
                                     {QStringLiteral("length"), item.payload.size()}};
        bytes += '\n';
        bytes += QJsonDocument(itemHeader).toJson(QJsonDocument::Compact);
        bytes += '\n';
        bytes += item.payload;
    }
    bytes += '\n';
    return bytes;
}

namespace {
std::optional<QJsonObject> parseHeaderLine(const QByteArray& bytes, qsizetype& position) {
    auto end = bytes.indexOf('\n', position);
    if (end < 0)
        end = bytes.size();
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(bytes.mid(position, end - position), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    position = end + 1;
    return document.object();
}
// A length is a whole number of bytes that the rest of the envelope holds; anything else
// (a fraction, a negative, a number past what is left, infinity) means the file is damaged.
// Compared as a double first: converting an out-of-range double is undefined.
std::optional<qsizetype> payloadSize(double length, qsizetype available) {
    if (!(length >= 0) || length > static_cast<double>(available) || std::floor(length) != length)
        return std::nullopt;
    return static_cast<qsizetype>(length);
}
} // namespace

std::optional<SentryEnvelope> SentryEnvelope::parse(const QByteArray& bytes) {
    SentryEnvelope envelope;
    qsizetype position = 0;
    const auto header = parseHeaderLine(bytes, position);
    if (!header)
        return std::nullopt;
    envelope.header = *header;
    while (position < bytes.size()) {
        const auto itemHeader = parseHeaderLine(bytes, position);
        if (!itemHeader)
            return std::nullopt;
        Item item{itemHeader->value(QStringLiteral("type")).toString(), {}};
        const auto length = itemHeader->value(QStringLiteral("length"));
        if (length.isDouble()) {
            const auto size = payloadSize(length.toDouble(), bytes.size() - position);
            if (!size)
                return std::nullopt;
            item.payload = bytes.mid(position, *size);
            position += *size + 1;
        } else {
            auto end = bytes.indexOf('\n', position);
            if (end < 0)
                end = bytes.size();
            item.payload = bytes.mid(position, end - position);
            position = end + 1;
        }
        envelope.items.push_back(std::move(item));
    }
    return envelope;
}

QString SentryEnvelope::category(const Item& item) {
    if (item.type == QLatin1String("event")) {
        const auto event = QJsonDocument::fromJson(item.payload).object();
        return event.contains(QStringLiteral("exception")) ? QStringLiteral("error")
                                                           : QStringLiteral("default");
    }
    return item.type; // "session", "attachment", ...
}

bool SentryEnvelope::holdsCrash() const {
    return std::ranges::any_of(items, [](const Item& item) {
        return item.type == QLatin1String("event") &&
               QJsonDocument::fromJson(item.payload).object().value(QStringLiteral("level")) ==
                   QLatin1String("fatal");
    });
}
