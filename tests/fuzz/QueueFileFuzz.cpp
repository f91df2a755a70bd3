// An analytics queue file as it is read before it joins a batch: one that is taken keeps a
// batch of it valid JSON.
#include "FuzzCheck.h"
#include "sdk/JsonText.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray contents(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (!JsonText::isEvent(contents))
        return 0;
    QJsonParseError error;
    const auto batch =
        QJsonDocument::fromJson("{\"batch\":[" + contents + ',' + contents + "]}", &error);
    FUZZ_CHECK(error.error == QJsonParseError::NoError);
    return 0;
}
