#include "service/PixaloomError.h"

#include <gtest/gtest.h>

namespace {

// The text form reaches logs and the editor's analytics: each value must stay one unambiguous,
// single-line literal.
TEST(PixaloomError, TextFormQuotesAndEscapesItsValues) {
    const struct {
        PixaloomError error;
        const char* expected;
    } cases[] = {
        {PixaloomError::invalidImage(), "invalidImage"},
        {PixaloomError::noImageInResponse(), "noImageInResponse"},
        {PixaloomError::invalidResponse("Invalid response type"),
         R"(invalidResponse("Invalid response type"))"},
        {PixaloomError::apiError(400, "Content blocked due to safety concerns"),
         R"(apiError(400, "Content blocked due to safety concerns"))"},
        {PixaloomError::apiError(500, "{\"error\":\"can't\"}\r\n\tC:\\x"),
         R"(apiError(500, "{\"error\":\"can\'t\"}\r\n\tC:\\x"))"},
        {PixaloomError::invalidResponse(QString::fromUtf8("a\x01\x1F\x7F\u00e9\0b", 8)),
         R"(invalidResponse("a\u{01}\u{1F}\u{7F})"
         "\u00e9"
         R"(\0b"))"},
        // The underlying error's own description, not a quoted value.
        {PixaloomError::networkError("Connection refused"), "networkError(Connection refused)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(c.error.textForm(), QString::fromUtf8(c.expected));
    }
}

TEST(PixaloomError, BridgesToItsDomainWithTheCasePositionAsCode) {
    const PixaloomError errors[] = {
        PixaloomError::networkError("x"), PixaloomError::invalidResponse("x"),
        PixaloomError::apiError(500, "x"), PixaloomError::invalidImage(),
        PixaloomError::noImageInResponse()};
    for (int code = 0; code < 5; ++code) {
        const BridgedError bridged = errors[code].bridged();
        EXPECT_EQ(bridged.domain, "Pixaloom.PixaloomError");
        EXPECT_EQ(bridged.code, code);
    }
}

} // namespace
