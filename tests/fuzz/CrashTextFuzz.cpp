// An exception's text as the crash handler writes it into a crash file, from the signal
// handler, with nothing but write(): whatever the bytes, the file still reads as JSON, and
// text that is valid UTF-8 reads back unchanged.
#include "FuzzCheck.h"
#include "sdk/NativeCrashHandler.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {
QByteArray written(const std::string& text) {
    static const int fd = ::memfd_create("crash-text", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0);
    NativeCrashHandler::writeJsonText(fd, text.c_str());
    const auto size = ::lseek(fd, 0, SEEK_CUR);
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    FUZZ_CHECK(::pread(fd, bytes.data(), static_cast<std::size_t>(size), 0) == size);
    return bytes;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // What() is a C string: the handler sees the text up to its first zero.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string shown = text.substr(0, text.find('\0'));
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson("[\"" + written(shown) + "\"]", &error);
    FUZZ_CHECK(error.error == QJsonParseError::NoError);
    FUZZ_CHECK(document.array().size() == 1 && document.array().at(0).isString());
    const QByteArray bytes = QByteArray::fromStdString(shown);
    const bool validUtf8 = QString::fromUtf8(bytes).toUtf8() == bytes;
    if (validUtf8)
        FUZZ_CHECK(document.array().at(0).toString() == QString::fromUtf8(bytes));
    return 0;
}
