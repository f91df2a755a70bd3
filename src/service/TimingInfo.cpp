#include "service/TimingInfo.h"

#include "service/JsonField.h"
#include "service/JsonWriter.h"

TimingInfo TimingInfo::decode(const JsonValue& value, const QString& codingPath) {
    using Type = JsonValue::Type;
    JsonField::requireObject(value, codingPath);
    TimingInfo timing;
    timing.total_ms = JsonField::required(value, "total_ms", Type::number, codingPath).number;
    if (const JsonValue* api = JsonField::optional(value, "api_ms", Type::number, codingPath))
        timing.api_ms = api->number;
    return timing;
}

void TimingInfo::encode(JsonWriter& writer) const {
    writer.beginObject();
    writer.key("total_ms");
    writer.value(total_ms);
    if (api_ms) {
        writer.key("api_ms");
        writer.value(*api_ms);
    }
    writer.endObject();
}
