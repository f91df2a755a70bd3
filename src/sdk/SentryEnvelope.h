#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

// One envelope: a header and its items, each item a header with "type" and "length" and a
// payload of that many bytes.
class SentryEnvelope {
public:
    struct Item {
        QString type;
        QByteArray payload;
    };

    QJsonObject header;
    std::vector<Item> items;

    QByteArray serialize() const;
    // Nothing when the bytes are not a whole envelope.
    static std::optional<SentryEnvelope> parse(const QByteArray& bytes);
    // The rate-limit category of an item: messages are "default", errors "error".
    static QString category(const Item& item);
    // Whether an event item holds a crash (level "fatal").
    bool holdsCrash() const;
};
