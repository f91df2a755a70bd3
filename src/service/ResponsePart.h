#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class JsonWriter;
struct JsonValue;

// One piece of the server's answer; "image" parts carry the edited image as base64 text.
struct ResponsePart {
    QString type;
    // UTF-8 text. Kept as bytes: an image part's content runs to megabytes of base64, read
    // once by the base64 decoder and never shown. A decoded part's content may point into the
    // reply it came from (see decode).
    QByteArray content;

    // The content's length in characters (Unicode code points).
    qsizetype contentLength() const;

    // Throws DecodingError naming the key under `codingPath` and the problem. A content that
    // lies within `reply` (one without escapes) is not copied but points into it: the reply
    // must outlive the part.
    static ResponsePart decode(const JsonValue& value, const QString& codingPath,
                               QByteArrayView reply);
    void encode(JsonWriter& writer) const;

    bool operator==(const ResponsePart&) const = default;
};
