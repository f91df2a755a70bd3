#pragma once

#include <string_view>
#include <vector>

struct JsonMember;

// One parsed JSON value. Texts are views into the parsed input or into the owning
// JsonDocument, which must outlive the value.
struct JsonValue {
    enum class Type { null, boolean, number, string, array, object };

    Type type = Type::null;
    bool boolean = false;
    double number = 0;
    std::string_view string; // UTF-8, escapes resolved
    std::vector<JsonValue> elements;
    std::vector<JsonMember> members; // in document order, duplicates kept

    // The member's value, the last one when the key is repeated; null when absent.
    const JsonValue* member(std::string_view key) const;
};

struct JsonMember {
    std::string_view key;
    JsonValue value;
};

inline const JsonValue* JsonValue::member(std::string_view key) const {
    for (auto it = members.rbegin(); it != members.rend(); ++it)
        if (it->key == key)
            return &it->value;
    return nullptr;
}
