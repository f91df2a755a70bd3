#include "service/ResponsePart.h"

#include "service/JsonField.h"
#include "service/JsonWriter.h"

#include <algorithm>

qsizetype ResponsePart::contentLength() const {
    // Every code point has exactly one byte that is not a continuation byte.
    return std::count_if(content.cbegin(), content.cend(),
                         [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

ResponsePart ResponsePart::decode(const JsonValue& value, const QString& codingPath,
                                  QByteArrayView reply) {
    using Type = JsonValue::Type;
    JsonField::requireObject(value, codingPath);
    ResponsePart part;
    const std::string_view type =
        JsonField::required(value, "type", Type::string, codingPath).string;
    part.type = QString::fromUtf8(type.data(), static_cast<qsizetype>(type.size()));
    const std::string_view content =
        JsonField::required(value, "content", Type::string, codingPath).string;
    const auto size = static_cast<qsizetype>(content.size());
    const bool inReply =
        content.data() >= reply.data() && content.data() + size <= reply.data() + reply.size();
    // Copying an image part's content would double the memory a large reply costs.
    part.content =
        inReply ? QByteArray::fromRawData(content.data(), size) : QByteArray(content.data(), size);
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
