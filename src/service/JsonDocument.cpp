#include "service/JsonDocument.h"

#include "service/DecodingError.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::uint64_t repeated(std::uint8_t byte) {
    return 0x0101010101010101ULL * byte;
}

// Non-zero when one of the eight bytes may be a quote, a backslash, a control character or
// a non-ASCII byte. False positives only send a block down the byte-wise path.
inline std::uint64_t mayNeedAttention(std::uint64_t v) {
    const auto zeroByte = [](std::uint64_t x) {
        return (x - repeated(0x01)) & ~x & repeated(0x80);
    };
    const std::uint64_t below0x20 = (v - repeated(0x20)) & ~v & repeated(0x80);
    return zeroByte(v ^ repeated('"')) | zeroByte(v ^ repeated('\\')) | below0x20 |
           (v & repeated(0x80));
}

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at p (lead byte >= 0x80), or 0.
int utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = p[0];
    int length = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        else if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (end - p < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i)
        if (!isContinuation(p[i]))
            return 0;
    return length;
}

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The character whose encoding starts at p, as the log shows it: itself, or its code point
// when it is a control character that would break the line; a byte that starts no valid
// sequence reads as U+FFFD.
QString characterAt(const char* p, const char* end) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(p);
    if (bytes[0] < 0x20 || bytes[0] == 0x7F)
        return QStringLiteral("U+%1").arg(bytes[0], 4, 16, QLatin1Char('0')).toUpper();
    const int length = bytes[0] < 0x80
                           ? 1
                           : utf8SequenceLength(bytes, reinterpret_cast<const unsigned char*>(end));
    return QString::fromUtf8(p, std::max(length, 1));
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

class JsonParser {
public:
    JsonParser(std::string_view input, JsonDocument& document)
        : begin(input.data())
        , p(input.data())
        , end(input.data() + input.size())
        , document(document) {}

    void parseDocument() {
        static constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
        if (std::string_view(p, static_cast<size_t>(end - p)).starts_with(byteOrderMark))
            p += byteOrderMark.size();
        skipWhitespace();
        if (p == end)
            fail(QStringLiteral("The given data was empty."));
        parseValue(document.rootValue, 0);
        skipWhitespace();
        if (p != end)
            fail(QStringLiteral("Unexpected text after the JSON value"));
    }

private:
    [[noreturn]] void fail(const QString& problem) const {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                            QStringLiteral("The given data was not valid JSON. %1 at offset %2.")
                                .arg(problem)
                                .arg(p - begin));
    }

    void skipWhitespace() {
        while (p != end && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t'))
            ++p;
    }

    void expectLiteral(std::string_view literal) {
        if (std::string_view(p, static_cast<size_t>(end - p)).starts_with(literal))
            p += literal.size();
        else
            fail(QStringLiteral("Invalid literal"));
    }

    void parseValue(JsonValue& out, int depth) {
        if (p == end)
            fail(QStringLiteral("Unexpected end of data"));
        switch (*p) {
        case '{':
            parseObject(out, depth + 1);
            return;
        case '[':
            parseArray(out, depth + 1);
            return;
        case '"':
            out.type = JsonValue::Type::string;
            out.string = parseString();
            return;
        case 't':
            expectLiteral("true");
            out.type = JsonValue::Type::boolean;
            out.boolean = true;
            return;
        case 'f':
            expectLiteral("false");
            out.type = JsonValue::Type::boolean;
            out.boolean = false;
            return;
        case 'n':
            expectLiteral("null");
            out.type = JsonValue::Type::null;
            return;
        default:
            if (*p == '-' || (*p >= '0' && *p <= '9')) {
                out.type = JsonValue::Type::number;
                out.number = parseNumber();
                return;
            }
            fail(QStringLiteral("Unexpected character '%1'").arg(characterAt(p, end)));
        }
    }

    void enter(int depth) {
        if (depth > JsonDocument::maxDepth)
            fail(QStringLiteral("Too many nested arrays or dictionaries"));
        ++p;
        skipWhitespace();
    }

    void parseObject(JsonValue& out, int depth) {
        enter(depth);
        out.type = JsonValue::Type::object;
        if (p != end && *p == '}') {
            ++p;
            return;
        }
        for (;;) {
            if (p == end || *p != '"')
                fail(QStringLiteral("Expected a key"));
            JsonMember& member = out.members.emplace_back();
            member.key = parseString();
            skipWhitespace();
            if (p == end || *p != ':')
                fail(QStringLiteral("Expected ':'"));
            ++p;
            skipWhitespace();
            parseValue(member.value, depth);
            skipWhitespace();
            if (p != end && *p == ',') {
                ++p;
                skipWhitespace();
                continue;
            }
            if (p != end && *p == '}') {
                ++p;
                return;
            }
            fail(QStringLiteral("Expected ',' or '}'"));
        }
    }

    void parseArray(JsonValue& out, int depth) {
        enter(depth);
        out.type = JsonValue::Type::array;
        if (p != end && *p == ']') {
            ++p;
            return;
        }
        for (;;) {
            parseValue(out.elements.emplace_back(), depth);
            skipWhitespace();
            if (p != end && *p == ',') {
                ++p;
                skipWhitespace();
                continue;
            }
            if (p != end && *p == ']') {
                ++p;
                return;
            }
            fail(QStringLiteral("Expected ',' or ']'"));
        }
    }

    // Moves p past plain characters: ASCII other than quote, backslash and controls, and
    // well-formed UTF-8 sequences.
    void skipPlainCharacters() {
        for (;;) {
            while (end - p >= 8) {
                std::uint64_t block;
                std::memcpy(&block, p, 8);
                if (mayNeedAttention(block))
                    break;
                p += 8;
            }
            if (p == end)
                return;
            const auto c = static_cast<unsigned char>(*p);
            if (c == '"' || c == '\\')
                return;
            if (c < 0x20)
                fail(QStringLiteral("Unescaped control character in a string"));
            if (c < 0x80) {
                ++p;
                continue;
            }
            const int length = utf8SequenceLength(reinterpret_cast<const unsigned char*>(p),
                                                  reinterpret_cast<const unsigned char*>(end));
            if (length == 0)
                fail(QStringLiteral("Invalid UTF-8 in a string"));
            p += length;
        }
    }

    std::string_view parseString() {
        ++p; // the opening quote
        const char* start = p;
        skipPlainCharacters();
        if (p == end)
            fail(QStringLiteral("Unterminated string"));
        if (*p == '"')
            return std::string_view(start, static_cast<size_t>(p++ - start));

        std::string& text = document.unescapedTexts.emplace_back(start, p);
        for (;;) {
            if (p == end)
                fail(QStringLiteral("Unterminated string"));
            if (*p == '"') {
                ++p;
                return text;
            }
            // *p is a backslash
            ++p;
            if (p == end)
                fail(QStringLiteral("Unterminated string"));
            switch (*p++) {
            case '"':
                text += '"';
                break;
            case '\\':
                text += '\\';
                break;
            case '/':
                text += '/';
                break;
            case 'b':
                text += '\b';
                break;
            case 'f':
                text += '\f';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case 'u':
                appendUtf8(text, parseUnicodeEscape());
                break;
            default:
                --p;
                fail(QStringLiteral("Invalid escape sequence"));
            }
            const char* plain = p;
            skipPlainCharacters();
            text.append(plain, p);
        }
    }

    char32_t parseHex4() {
        if (end - p < 4)
            fail(QStringLiteral("Incomplete \\u escape"));
        char32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexValue(p[i]);
            if (digit < 0)
                fail(QStringLiteral("Invalid \\u escape"));
            value = value * 16 + static_cast<char32_t>(digit);
        }
        p += 4;
        return value;
    }

    // After "\u": one code point, joining a surrogate pair; a lone surrogate is not text.
    char32_t parseUnicodeEscape() {
        const char32_t first = parseHex4();
        if (first >= 0xDC00 && first <= 0xDFFF)
            fail(QStringLiteral("Unpaired low surrogate in \\u escape"));
        if (first < 0xD800 || first > 0xDBFF)
            return first;
        if (end - p < 2 || p[0] != '\\' || p[1] != 'u')
            fail(QStringLiteral("Unpaired high surrogate in \\u escape"));
        p += 2;
        const char32_t second = parseHex4();
        if (second < 0xDC00 || second > 0xDFFF)
            fail(QStringLiteral("Unpaired high surrogate in \\u escape"));
        return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    double parseNumber() {
        const char* start = p;
        if (*p == '-')
            ++p;
        if (p == end || !isDigit(*p))
            fail(QStringLiteral("Invalid number"));
        if (*p == '0') {
            ++p;
            if (p != end && isDigit(*p))
                fail(QStringLiteral("Number with a leading zero"));
        } else {
            while (p != end && isDigit(*p))
                ++p;
        }
        if (p != end && *p == '.') {
            ++p;
            if (p == end || !isDigit(*p))
                fail(QStringLiteral("Invalid number"));
            while (p != end && isDigit(*p))
                ++p;
        }
        if (p != end && (*p == 'e' || *p == 'E')) {
            ++p;
            if (p != end && (*p == '+' || *p == '-'))
                ++p;
            if (p == end || !isDigit(*p))
                fail(QStringLiteral("Invalid number"));
            while (p != end && isDigit(*p))
                ++p;
        }
        double value = 0;
        const auto [last, status] = std::from_chars(start, p, value);
        if (status == std::errc::result_out_of_range) {
            // Too small is zero (or a subnormal); too large has no double.
            const std::string text(start, p);
            value = std::strtod(text.c_str(), nullptr);
            if (std::isinf(value)) {
                p = start;
                fail(QStringLiteral("Number %1 is not representable")
                         .arg(QString::fromLatin1(text.data(), qMin<qsizetype>(64, text.size()))));
            }
        } else if (status != std::errc() || last != p) {
            p = start;
            fail(QStringLiteral("Invalid number"));
        }
        return value;
    }

    const char* begin;
    const char* p;
    const char* end;
    JsonDocument& document;
};

std::unique_ptr<JsonDocument> JsonDocument::parse(std::string_view input) {
    auto document = std::make_unique<JsonDocument>();
    JsonParser(input, *document).parseDocument();
    return document;
}
