#include "service/ResponsePart.h"

#include "service/JsonField.h"
#include "service/JsonWriter.h"

#include <algorithm>

qsizetype ResponsePart::contentLength() const {
    // Every code point has exactly one byte that is not a continuation byte.
    return std::count_if(content.cbegin(), content.cend(),
                         [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

ResponsePart ResponsePart::decode(const JsonValue& value, const QString& codingPath) {
    using Type = JsonValue::Type;
    JsonField::requireObject(value, codingPath);
    ResponsePart part;
    const std::string_view type =
        JsonField::required(value, "type", Type::string, codingPath).string;
    part.type = QString::fromUtf8(type.data(), static_cast<qsizetype>(type.size()));
    const std::string_view content =
        JsonField::required(value, "content", Type::string, codingPath).string;
    part.content = QByteArray(content.data(), static_cast<qsizetype>(content.size()));
    return part;
}

void ResponsePart::encode(JsonWriter& writer) const {
    writer.beginObject();
    writer.key("type");
    writer.value(QByteArrayView(type.toUtf8()));
    writer.key("content");
    writer.value(QByteArrayView(content));
    writer.endObject();
}
