// A reply body as the edit service reads it: a reply that decodes writes back to one that
// decodes to the same records, and its image part decodes in place as it does on its own.
#include "FuzzCheck.h"
#include "service/Base64.h"
#include "service/DecodingError.h"
#include "service/ServerResponse.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const ServerResponse response = ServerResponse::decode(body);
        FUZZ_CHECK(ServerResponse::decode(response.encode()) == response);
        for (std::size_t i = 0; i < response.parts.size(); ++i) {
            const QByteArray& content = response.parts[i].content;
            if (response.parts[i].type != QStringLiteral("image"))
                continue;
            const auto alone =
                Base64::decode(std::string_view(content.constData(), content.size()));
            const QByteArray before = body;
            body.detach();
            const ServerResponse again = ServerResponse::decode(body);
            const auto inPlace = Base64::decodeTaking(body, again.parts.at(i).content);
            FUZZ_CHECK(inPlace == alone);
            if (!inPlace)
                FUZZ_CHECK(body == before);
            break;
        }
    } catch (const DecodingError&) {
    }
    return 0;
}
