#include "service/ServerResponse.h"

#include "service/JsonDocument.h"
#include "service/JsonField.h"
#include "service/JsonWriter.h"

std::string_view ServerResponse::stringValue(CodingKeys key) {
    switch (key) {
    case CodingKeys::success:
        return "success";
    case CodingKeys::parts:
        return "parts";
    case CodingKeys::timing:
        return "timing";
    case CodingKeys::error:
        return "error";
    }
    return {};
}

ServerResponse ServerResponse::decode(QByteArrayView json) {
    using Type = JsonValue::Type;
    const auto document =
        JsonDocument::parse(std::string_view(json.data(), static_cast<size_t>(json.size())));
    const JsonValue& root = document->root();
    const QString top;
    JsonField::requireObject(root, top);

    ServerResponse response;
    response.success =
        JsonField::required(root, stringValue(CodingKeys::success), Type::boolean, top).boolean;
    const JsonValue& parts =
        JsonField::required(root, stringValue(CodingKeys::parts), Type::array, top);
    const QString partsPath = JsonField::path(top, stringValue(CodingKeys::parts));
    response.parts.reserve(parts.elements.size());
    for (size_t i = 0; i < parts.elements.size(); ++i)
        response.parts.push_back(ResponsePart::decode(
            parts.elements[i], JsonField::elementPath(partsPath, static_cast<qsizetype>(i)), json));
    if (const JsonValue* timing =
            JsonField::optional(root, stringValue(CodingKeys::timing), Type::object, top))
        response.timing =
            TimingInfo::decode(*timing, JsonField::path(top, stringValue(CodingKeys::timing)));
    if (const JsonValue* error =
            JsonField::optional(root, stringValue(CodingKeys::error), Type::string, top))
        response.error =
            QString::fromUtf8(error->string.data(), static_cast<qsizetype>(error->string.size()));
    return response;
}

QByteArray ServerResponse::encode() const {
    JsonWriter writer;
    writer.beginObject();
    writer.key(stringValue(CodingKeys::success));
    writer.value(success);
    writer.key(stringValue(CodingKeys::parts));
    writer.beginArray();
    for (const ResponsePart& part : parts)
        part.encode(writer);
    writer.endArray();
    if (timing) {
        writer.key(stringValue(CodingKeys::timing));
        timing->encode(writer);
    }
    if (error) {
        writer.key(stringValue(CodingKeys::error));
        writer.value(QByteArrayView(error->toUtf8()));
    }
    writer.endObject();
    return writer.data();
}
