#include "ServiceTestSupport.h"

#include "LoopbackHttpServer.h"
#include "sdk/SentrySDK.h"
#include "service/Base64.h"
#include "service/DecodingError.h"
#include "service/JsonDocument.h"
#include "service/ServerResponse.h"
#include "service/TiffRepresentation.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

QByteArray nested(int depth) {
    return R"({"success":true,"parts":[],"x":)" + QByteArray(depth, '[') + QByteArray(depth, ']') +
           "}";
}

QByteArray withContent(const QByteArray& jsonString) {
    return R"({"success":true,"parts":[{"type":"image","content":)" + jsonString + "}]}";
}

// Every reply here must end in the right error and never crash, also under the sanitizers.
TEST(MalformedReplies, EndInTheRightErrorThroughARealSocket) {
    struct Case {
        const char* name;
        QByteArray body;
        const char* messageStart; // after "Failed to decode response: "
    };
    const QByteArray hugeUnpadded = withContent('"' + QByteArray(50 * 1024 * 1024 + 1, 'A') + '"');
    const Case cases[] = {
        {"not JSON", "hello", "dataCorrupted"},
        {"empty body", "", "dataCorrupted"},
        {"truncated array", R"({"success":true,"parts":[)", "dataCorrupted"},
        {"truncated string", R"({"success":true,"parts":[{"type":"image","content":"aW)",
         "dataCorrupted"},
        {"trailing comma", R"({"success":true,"parts":[],})", "dataCorrupted"},
        {"text after the value", R"({"success":true,"parts":[]} x)", "dataCorrupted"},
        {"single quotes", R"({'success':true,'parts':[]})", "dataCorrupted"},
        {"comment", R"({"success":true,/*c*/"parts":[]})", "dataCorrupted"},
        {"NaN", R"({"success":true,"parts":[],"timing":{"total_ms":NaN}})", "dataCorrupted"},
        {"leading zero", R"({"success":true,"parts":[],"timing":{"total_ms":012}})",
         "dataCorrupted"},
        {"raw line break in a string", "{\"success\":true,\"parts\":[],\"error\":\"a\nb\"}",
         "dataCorrupted"},
        {"lone surrogate escape", R"({"success":true,"parts":[],"error":"\ud800"})",
         "dataCorrupted"},
        {"invalid UTF-8 in content", withContent("\"aW1n\xC3\x28\""), "dataCorrupted"},
        {"overlong UTF-8 in an unknown key", "{\"success\":true,\"parts\":[],\"x\":\"\xC0\xAF\"}",
         "dataCorrupted"},
        {"1e400 for total_ms", R"({"success":true,"parts":[],"timing":{"total_ms":1e400}})",
         "dataCorrupted"},
        {"-1e400 in an unknown key", R"({"success":true,"parts":[],"x":-1e400})", "dataCorrupted"},
        {"nesting 100000 deep", nested(100000), "dataCorrupted"},
        {"top-level array", "[]", "typeMismatch(top level)"},
        {"top-level null", "null", "valueNotFound(top level)"},
        {"no success", R"({"parts":[]})", "keyNotFound(success)"},
        {"no parts", R"({"success":true})", "keyNotFound(parts)"},
        {"success as text", R"({"success":"true","parts":[]})", "typeMismatch(success)"},
        {"success as 1", R"({"success":1,"parts":[]})", "typeMismatch(success)"},
        {"success null", R"({"success":null,"parts":[]})", "valueNotFound(success)"},
        {"parts as object", R"({"success":true,"parts":{}})", "typeMismatch(parts)"},
        {"part that is a number", R"({"success":true,"parts":[1]})", "typeMismatch(parts[0])"},
        {"part without content", R"({"success":true,"parts":[{"type":"image"}]})",
         "keyNotFound(parts[0].content)"},
        {"content null", R"({"success":true,"parts":[{"type":"image","content":null}]})",
         "valueNotFound(parts[0].content)"},
        {"type as number", R"({"success":true,"parts":[{"type":1,"content":""}]})",
         "typeMismatch(parts[0].type)"},
        {"empty timing", R"({"success":true,"parts":[],"timing":{}})",
         "keyNotFound(timing.total_ms)"},
        {"timing as text", R"({"success":true,"parts":[],"timing":"fast"})",
         "typeMismatch(timing)"},
        {"total_ms as text", R"({"success":true,"parts":[],"timing":{"total_ms":"5"}})",
         "typeMismatch(timing.total_ms)"},
        {"api_ms as Boolean",
         R"({"success":true,"parts":[],"timing":{"total_ms":5,"api_ms":true}})",
         "typeMismatch(timing.api_ms)"},
        {"error as number", R"({"success":true,"parts":[],"error":5})", "typeMismatch(error)"},
        {"base64 with a line break", withContent(R"("aW1n\nZw==")"), "noImageInResponse"},
        {"base64 with CRLF every 76", withContent(R"("aW1nZ2Vk\r\naW1n")"), "noImageInResponse"},
        {"base64 with a space", withContent(R"("aW1n Zw==")"), "noImageInResponse"},
        {"base64 missing padding", withContent(R"("aW1nZw")"), "noImageInResponse"},
        {"base64 padding inside", withContent(R"("aW==aW1n")"), "noImageInResponse"},
        {"URL-safe base64", withContent(R"("a-_n")"), "noImageInResponse"},
        {"50 MB content, not base64", hugeUnpadded, "noImageInResponse"},
    };
    static_assert(std::size(cases) >= 25);
    LoopbackHttpServer server;
    SentrySDK crashReports;
    PixaloomService service({server.baseUrl(), &crashReports, std::chrono::seconds(20)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.enqueue(LoopbackHttpServer::json(200, c.body));
        const EditOutcome outcome = runEdit(service, "p", patternImage(2, 2));
        ASSERT_TRUE(std::holds_alternative<PixaloomError>(outcome));
        const PixaloomError& received = std::get<PixaloomError>(outcome);
        EXPECT_EQ(received.errorCase(), PixaloomError::Case::invalidResponse);
        EXPECT_TRUE(received.message().startsWith(QStringLiteral("Failed to decode response: ") +
                                                  c.messageStart))
            << received.message().left(300).toStdString();
    }
}

TEST(ReplyDecoding, AcceptsEveryValidShape) {
    struct Case {
        const char* name;
        QByteArray body;
        ServerResponse expected;
    };
    const Case cases[] = {
        {"minimal", R"({"success":true,"parts":[]})", {true, {}, {}, {}}},
        {"nulls are absent",
         R"({"success":false,"parts":[],"timing":null,"error":null})",
         {false, {}, {}, {}}},
        {"timing without api_ms",
         R"({"success":true,"parts":[],"timing":{"total_ms":1200}})",
         {true, {}, TimingInfo{1200, {}}, {}}},
        {"timing with api_ms null",
         R"({"success":true,"parts":[],"timing":{"total_ms":1,"api_ms":null}})",
         {true, {}, TimingInfo{1, {}}, {}}},
        {"number forms",
         R"({"success":true,"parts":[],"timing":{"total_ms":-0.5e1,"api_ms":1E-400}})",
         {true, {}, TimingInfo{-5, 0.0}, {}}},
        {"unknown keys at every level, duplicates: last wins",
         R"({"x":{"deep":[1,{"a":null}]},"success":false,"success":true,"parts":[{"type":"text","content":"c","extra":1}],"timing":{"total_ms":2,"more":"x"}})",
         {true, {ResponsePart{"text", "c"}}, TimingInfo{2, {}}, {}}},
        {"escapes and UTF-8",
         "\xEF\xBB\xBF{\"success\":true,\"parts\":[],\"error\":\"q\\\"\\\\\\/"
         "\\n\\u00e9\\ud83c\\udfa8 \xE6\x97\xA5\"}\r\n",
         {true, {}, {}, QString::fromUtf8("q\"\\/\n\u00e9\U0001F3A8 \u65E5")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            EXPECT_EQ(ServerResponse::decode(c.body), c.expected);
        } catch (const DecodingError& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

TEST(ReplyDecoding, LimitsNestingWithoutExhaustingTheStack) {
    EXPECT_NO_THROW(JsonDocument::parse(std::string(JsonDocument::maxDepth, '[') +
                                        std::string(JsonDocument::maxDepth, ']')));
    EXPECT_THROW(JsonDocument::parse(std::string(JsonDocument::maxDepth + 1, '[') +
                                     std::string(JsonDocument::maxDepth + 1, ']')),
                 DecodingError);
    EXPECT_THROW(JsonDocument::parse(std::string(1'000'000, '{')), DecodingError);
}

TEST(ReplyDecoding, NamesAnUnexpectedCharacterAsItIs) {
    struct Case {
        std::string input;
        const char* named;
    };
    const Case cases[] = {
        {"<html>", "Unexpected character '<'"},
        {"&amp;", "Unexpected character '&'"},
        {"\xC3\xA9t\xC3\xA9", "Unexpected character '\xC3\xA9'"},
        {"\xF0\x9F\x98\x80", "Unexpected character '\xF0\x9F\x98\x80'"},
        {"\xFF", "Unexpected character '\xEF\xBF\xBD'"},
        {"\x01", "Unexpected character 'U+0001'"},
    };
    for (const Case& c : cases) {
        try {
            JsonDocument::parse(c.input);
            ADD_FAILURE() << c.input;
        } catch (const DecodingError& e) {
            EXPECT_TRUE(e.description().contains(QString::fromUtf8(c.named)))
                << e.description().toStdString();
        }
    }
}

TEST(ReplyEncoding, WritesOptionalFieldsOnlyWhenPresentAndReadsBack) {
    const ServerResponse bare{true, {}, {}, {}};
    EXPECT_EQ(bare.encode(), R"({"success":true,"parts":[]})");
    const ServerResponse full{
        false,
        {ResponsePart{"image", "aW1n"}, ResponsePart{"text", "a\"\n\x01\xC3\xA9"}},
        TimingInfo{12.5, 3},
        QString::fromUtf8("boom \u00e9")};
    EXPECT_EQ(full.encode(),
              QByteArray(R"({"success":false,"parts":[{"type":"image","content":"aW1n"},)"
                         R"({"type":"text","content":"a\"\n\u0001)"
                         "\xC3\xA9"
                         R"("}],"timing":{"total_ms":12.5,"api_ms":3},"error":"boom )"
                         "\xC3\xA9\"}"));
    EXPECT_EQ(ServerResponse::decode(full.encode()), full);
}

TEST(Base64Decoding, MatchesTheStandardEncodingForEveryLength) {
    for (int length = 0; length < 70; ++length) {
        QByteArray bytes(length, Qt::Uninitialized);
        for (char& b : bytes)
            b = static_cast<char>(QRandomGenerator::global()->bounded(256));
        const QByteArray text = bytes.toBase64();
        const auto decoded = Base64::decode(std::string_view(text.constData(), text.size()));
        ASSERT_TRUE(decoded.has_value()) << length;
        EXPECT_EQ(*decoded, bytes) << length;
        if (text.endsWith('=')) {
            const QByteArray unpadded = text.left(text.indexOf('='));
            EXPECT_FALSE(Base64::decode(std::string_view(unpadded.constData(), unpadded.size())));
        }
    }
    for (const char* invalid : {"====", "A===", "AB=C", "AB\tC", "ABC\x80", "ABC."})
        EXPECT_FALSE(Base64::decode(invalid)) << invalid;
}

TEST(Base64Decoding, DecodesInPlaceOnlyAWholeValidTextWithinTheBuffer) {
    for (int length = 0; length < 40; ++length) {
        SCOPED_TRACE(length);
        QByteArray bytes(length, Qt::Uninitialized);
        for (char& b : bytes)
            b = static_cast<char>(QRandomGenerator::global()->bounded(256));
        QByteArray reply = withContent('"' + bytes.toBase64() + '"');
        reply.detach();
        const auto response = ServerResponse::decode(reply);
        const QByteArray& content = response.parts.at(0).content;
        const auto image = Base64::decodeTaking(reply, content);
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(*image, bytes);
        EXPECT_EQ(reply.isEmpty(), length > 0); // taken for the image (its memory, bench/)
    }
    struct Case {
        const char* name;
        QByteArray reply;
        std::optional<QByteArray> image;
    };
    const Case cases[] = {
        // Escaped: the content the decoder sees is not in the reply; it still decodes.
        {"escaped slashes", withContent(R"("\/\/\/\/")"), QByteArray("\xFF\xFF\xFF")},
        {"one bad character", withContent(R"("aW1n!W1n")"), std::nullopt},
        {"bad padding", withContent(R"("aW1=aW1n")"), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray reply = c.reply;
        reply.detach();
        const auto response = ServerResponse::decode(reply);
        const auto image = Base64::decodeTaking(reply, response.parts.at(0).content);
        EXPECT_EQ(image, c.image);
        if (!c.image) {
            EXPECT_EQ(reply, c.reply); // left as it was, for the failure's log lines
        }
    }
}

// Megabytes of text are decoded by several threads, each on its own run of quads: every length
// and padding must come out as one thread made it, and a bad character anywhere, at the edge
// of a run too, must still refuse the whole text and leave the reply as it was.
TEST(Base64Decoding, DecodesLargeTextsWholeOverThreads) {
    constexpr qsizetype megabyteOfQuads = 256 * 1024;
    const qsizetype quadCounts[] = {2 * megabyteOfQuads, 2 * megabyteOfQuads + 1,
                                    5 * megabyteOfQuads + 3, 9 * megabyteOfQuads - 1};
    for (const qsizetype quads : quadCounts) {
        for (const int padding : {0, 1, 2}) {
            SCOPED_TRACE(testing::Message() << quads << " quads, padding " << padding);
            QByteArray bytes(quads * 3 - padding, Qt::Uninitialized);
            QRandomGenerator(quint32(quads + padding))
                .fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
            const QByteArray text = bytes.toBase64();
            ASSERT_EQ(text.size(), quads * 4);
            EXPECT_EQ(Base64::decode(std::string_view(text.constData(), size_t(text.size()))),
                      bytes);
            QByteArray reply = withContent('"' + text + '"');
            const auto response = ServerResponse::decode(reply);
            EXPECT_EQ(Base64::decodeTaking(reply, response.parts.at(0).content), bytes);
            EXPECT_TRUE(reply.isEmpty());
        }
        const QByteArray valid = QByteArray(quads * 4, 'A');
        // The first and last character, either side of where runs of 2 to 8 threads meet
        // (the last quad, which may hold padding, is read apart), and the last quad.
        std::vector<qsizetype> badAt = {0, quads * 4 - 5, quads * 4 - 1};
        for (qsizetype threads = 2; threads <= 8; ++threads) {
            badAt.push_back((quads - 1) / threads * 4 - 1);
            badAt.push_back((quads - 1) / threads * 4);
        }
        for (const qsizetype at : badAt) {
            SCOPED_TRACE(at);
            QByteArray text = valid;
            text[at] = '.';
            EXPECT_FALSE(Base64::decode(std::string_view(text.constData(), size_t(text.size()))));
            const QByteArray original = withContent('"' + text + '"');
            QByteArray reply = original;
            reply.detach();
            const auto response = ServerResponse::decode(reply);
            EXPECT_FALSE(Base64::decodeTaking(reply, response.parts.at(0).content));
            EXPECT_EQ(reply, original);
        }
    }
}

TEST(TiffRepresentation, DecodesBackToTheSamePixels) {
    QImage premultiplied = patternImage(33, 70, QImage::Format_ARGB32);
    premultiplied = premultiplied.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage images[] = {
        patternImage(1, 1),
        patternImage(3, 1000),  // a column of tiles, the last one short
        patternImage(4000, 3),  // a row of tiles, the last one narrow
        patternImage(256, 512), // tiles that fit exactly
        patternImage(300, 270), // a grid of tiles cut at the right and the bottom
        patternImage(33, 70, QImage::Format_ARGB32),
        patternImage(530, 260, QImage::Format_ARGB32), // translucent, across tiles
        premultiplied,
        patternImage(19, 7).convertToFormat(QImage::Format_RGB888),
        patternImage(19, 7).convertToFormat(QImage::Format_Grayscale8),
    };
    for (const QImage& image : images) {
        SCOPED_TRACE(testing::Message()
                     << image.width() << "x" << image.height() << " format " << image.format());
        const QImage before = image.copy();
        const auto tiff = TiffRepresentation::of(image);
        ASSERT_TRUE(tiff.has_value());
        EXPECT_TRUE(tiff->startsWith("II*\0") || tiff->startsWith("MM\0*"));
        EXPECT_EQ(decodeTiff(*tiff), image.convertToFormat(QImage::Format_ARGB32));
        EXPECT_EQ(image, before); // the caller's image is left alone
        // Written after other bytes (a request body's first part), the file is the same.
        QByteArray body = "--boundary\r\n\r\n";
        ASSERT_TRUE(TiffRepresentation::appendTo(body, image, 100));
        EXPECT_EQ(body, "--boundary\r\n\r\n" + *tiff);
    }
    EXPECT_FALSE(TiffRepresentation::of(QImage()));
    EXPECT_FALSE(TiffRepresentation::of(QImage(0, 5, QImage::Format_RGB32)));
    QByteArray untouched = "kept";
    EXPECT_FALSE(TiffRepresentation::appendTo(untouched, QImage()));
    EXPECT_EQ(untouched, "kept");
}

TEST(TiffRepresentation, CarriesAlphaOnlyWhenAPixelIsNotOpaque) {
    QImage oneTranslucentPixel = patternImage(300, 40).convertToFormat(QImage::Format_ARGB32);
    oneTranslucentPixel.setPixel(299, 39, qRgba(10, 20, 30, 254));
    struct Case {
        const char* name;
        QImage image;
        uint16_t samples;
    };
    const Case cases[] = {
        {"opaque RGB32", patternImage(300, 40), 3},
        {"opaque ARGB32", patternImage(300, 40).convertToFormat(QImage::Format_ARGB32), 3},
        {"opaque premultiplied",
         patternImage(300, 40).convertToFormat(QImage::Format_ARGB32_Premultiplied), 3},
        {"one translucent pixel, last tile", oneTranslucentPixel, 4},
        {"translucent ARGB32", patternImage(300, 40, QImage::Format_ARGB32), 4},
    };
    for (const Case& c : cases) {
        const auto tiff = TiffRepresentation::of(c.image);
        ASSERT_TRUE(tiff.has_value()) << c.name;
        uint16_t samples = 0;
        EXPECT_EQ(decodeTiff(*tiff, &samples), c.image.convertToFormat(QImage::Format_ARGB32))
            << c.name;
        EXPECT_EQ(samples, c.samples) << c.name;
    }
}

} // namespace
