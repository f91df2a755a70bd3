// pixaloom-edit-server [port]: a stand-in for the edit server on 127.0.0.1 (default port
// 8765). POST /edit takes the multipart body the application sends (image as TIFF, prompt,
// optional theme, improve_prompt) and answers with the edited image as base64 PNG: a tint in
// the theme's colour when a theme is given, else the colours inverted.
#include "platform/PngEncoder.h"

#include <QByteArray>
#include <QColor>
#include <QCryptographicHash>
#include <QImage>

#include <httplib.h>
#include <tiffio.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

struct MemorySource {
    const std::string* data;
    toff_t position = 0;
};

tmsize_t readSource(thandle_t handle, void* buffer, tmsize_t size) {
    auto* source = static_cast<MemorySource*>(handle);
    const toff_t available =
        source->position < source->data->size() ? source->data->size() - source->position : 0;
    const toff_t count = std::min<toff_t>(available, static_cast<toff_t>(size));
    std::memcpy(buffer, source->data->data() + source->position, count);
    source->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t seekSource(thandle_t handle, toff_t offset, int whence) {
    auto* source = static_cast<MemorySource*>(handle);
    const toff_t base = whence == SEEK_CUR   ? source->position
                        : whence == SEEK_END ? source->data->size()
                                             : 0;
    source->position = base + offset;
    return source->position;
}

int closeSource(thandle_t) {
    return 0;
}

toff_t sizeOfSource(thandle_t handle) {
    return static_cast<MemorySource*>(handle)->data->size();
}

int mapNothing(thandle_t, void**, toff_t*) {
    return 0;
}

void unmapNothing(thandle_t, void*, toff_t) {
}

std::optional<QImage> decodeTiff(const std::string& bytes) {
    MemorySource source{&bytes};
    TIFF* tiff = TIFFClientOpen("upload.tiff", "r", &source, readSource, writeNothing, seekSource,
                                closeSource, sizeOfSource, mapNothing, unmapNothing);
    if (!tiff)
        return std::nullopt;
    uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    std::optional<QImage> image;
    if (width > 0 && height > 0 && uint64_t(width) * height <= 100'000'000) {
        std::vector<uint32_t> raster(size_t(width) * height);
        if (TIFFReadRGBAImageOriented(tiff, width, height, raster.data(), ORIENTATION_TOPLEFT, 0)) {
            QImage decoded(int(width), int(height), QImage::Format_ARGB32_Premultiplied);
            for (uint32_t y = 0; y < height; ++y) {
                auto* line = reinterpret_cast<QRgb*>(decoded.scanLine(int(y)));
                for (uint32_t x = 0; x < width; ++x) {
                    const uint32_t p = raster[size_t(y) * width + x];
                    line[x] = qRgba(TIFFGetR(p), TIFFGetG(p), TIFFGetB(p), TIFFGetA(p));
                }
            }
            image = decoded;
        }
    }
    TIFFClose(tiff);
    return image;
}

// A colour of the theme's own, the same for every request with that theme.
QColor themeColour(const std::string& theme) {
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(theme), QCryptographicHash::Sha1);
    return QColor::fromHsv(static_cast<unsigned char>(hash[0]) * 359 / 255, 200, 230);
}

QImage edit(QImage image, const std::optional<std::string>& theme) {
    image = image.convertToFormat(QImage::Format_ARGB32);
    if (!theme) {
        image.invertPixels();
        return image;
    }
    const QColor tint = themeColour(*theme);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            line[x] = qRgba((qRed(p) + tint.red()) / 2, (qGreen(p) + tint.green()) / 2,
                            (qBlue(p) + tint.blue()) / 2, qAlpha(p));
        }
    }
    return image;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + '"';
}

void fail(httplib::Response& response, int status, const std::string& message) {
    response.status = status;
    response.set_content("{\"success\":false,\"parts\":[],\"error\":" + jsonString(message) + "}",
                         "application/json");
}

// Compressing a reply of several megabytes of base64 costs the server more time than it
// saves on a local connection (Brotli takes seconds for a 4K image and shrinks it by about a
// quarter). Only a client that asks for nothing but zlib's encodings gets a compressed reply.
bool wantsCheapCompressionOnly(const httplib::Request& request) {
    const std::string accepted = request.get_header_value("Accept-Encoding");
    if (accepted.empty())
        return false;
    std::size_t start = 0;
    while (start < accepted.size()) {
        std::size_t end = accepted.find(',', start);
        if (end == std::string::npos)
            end = accepted.size();
        std::string coding = accepted.substr(start, end - start);
        coding = coding.substr(0, coding.find(';'));
        coding.erase(0, coding.find_first_not_of(" \t"));
        coding.erase(coding.find_last_not_of(" \t") + 1);
        if (coding != "gzip" && coding != "deflate" && coding != "identity")
            return false;
        start = end + 1;
    }
    return true;
}

void answer(const httplib::Request& request, httplib::Response& response, std::string body) {
    if (wantsCheapCompressionOnly(request)) {
        response.set_content(std::move(body), "application/json");
        return;
    }
    // httplib compresses a body set with set_content whenever the client accepts an encoding;
    // a body of known length from a content provider is sent as it is.
    auto shared = std::make_shared<std::string>(std::move(body));
    response.set_content_provider(
        shared->size(), "application/json",
        [shared](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            return sink.write(shared->data() + offset, length);
        });
}

// The form's fields by name, each the first of its name, read straight from the body as it
// arrives: httplib's own reading would copy a large image three more times before the handler
// sees it. None when the body could not be read (httplib has then set the status).
std::optional<std::map<std::string, std::string>>
readFormFields(const httplib::Request& request, const httplib::ContentReader& content) {
    std::map<std::string, std::string> fields;
    std::string* current = nullptr;
    if (!request.is_multipart_form_data()) {
        if (!content([](const char*, std::size_t) { return true; }))
            return std::nullopt;
        return fields;
    }
    const std::size_t announced =
        std::strtoull(request.get_header_value("Content-Length").c_str(), nullptr, 10);
    const bool read = content(
        [&](const httplib::MultipartFormData& part) {
            const auto [field, isFirst] = fields.try_emplace(part.name);
            current = isFirst ? &field->second : nullptr;
            // The image is nearly all of the body: its room is made once.
            if (current && part.name == "image")
                current->reserve(announced);
            return true;
        },
        [&](const char* data, std::size_t length) {
            if (current)
                current->append(data, length);
            return true;
        });
    if (!read)
        return std::nullopt;
    return fields;
}

std::optional<std::string> field(const std::map<std::string, std::string>& fields,
                                 const std::string& name) {
    const auto found = fields.find(name);
    return found == fields.end() ? std::nullopt : std::optional(found->second);
}

// Standard base64 of the bytes, appended in one pass to room made for it beforehand.
void appendBase64(std::string& out, const QByteArray& bytes) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.constData());
    const std::size_t size = static_cast<std::size_t>(bytes.size());
    const std::size_t start = out.size();
    out.resize(start + (size + 2) / 3 * 4);
    char* written = out.data() + start;
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3, written += 4) {
        const uint32_t triple = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
        written[0] = alphabet[triple >> 18];
        written[1] = alphabet[(triple >> 12) & 63];
        written[2] = alphabet[(triple >> 6) & 63];
        written[3] = alphabet[triple & 63];
    }
    if (i < size) {
        const uint32_t triple =
            uint32_t(in[i]) << 16 | (i + 1 < size ? uint32_t(in[i + 1]) << 8 : 0);
        written[0] = alphabet[triple >> 18];
        written[1] = alphabet[(triple >> 12) & 63];
        written[2] = i + 1 < size ? alphabet[(triple >> 6) & 63] : '=';
        written[3] = '=';
    }
}

void handleEdit(const httplib::Request& request, httplib::Response& response,
                const httplib::ContentReader& content) {
    // The handler's own time starts once the body has arrived, as when httplib read it.
    const std::optional<std::map<std::string, std::string>> form = readFormFields(request, content);
    if (!form) {
        if (response.status == -1)
            response.status = 400;
        return;
    }
    const std::map<std::string, std::string>& fields = *form;
    const auto started = std::chrono::steady_clock::now();
    const std::optional<std::string> prompt = field(fields, "prompt");
    const auto upload = fields.find("image");
    if (upload == fields.end() || !prompt)
        return fail(response, 400, "The request needs an image and a prompt");
    const std::optional<std::string> theme = field(fields, "theme");
    const std::optional<QImage> image = decodeTiff(upload->second);
    if (!image)
        return fail(response, 400, "The image is not a readable TIFF");

    const auto editStarted = std::chrono::steady_clock::now();
    // Zlib's fast run-length PNG: a tenth of the default encoder's time on screenshots, for
    // a fifth more bytes.
    const QByteArray png = PngEncoder::encode(edit(*image, theme));
    const auto milliseconds = [](auto since) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
            .count();
    };
    const std::string totalMs = std::to_string(milliseconds(started));
    const std::string apiMs = std::to_string(milliseconds(editStarted));
    const std::string description =
        theme ? "Tinted for the theme \"" + *theme + "\": " + *prompt : "Inverted: " + *prompt;

    const std::string head =
        "{\"success\":true,\"parts\":[{\"type\":\"text\",\"content\":" + jsonString(description) +
        "},{\"type\":\"image\",\"content\":\"";
    const std::string tail =
        "\"}],\"timing\":{\"total_ms\":" + totalMs + ",\"api_ms\":" + apiMs + "}}";
    std::string body;
    body.reserve(head.size() + (static_cast<std::size_t>(png.size()) + 2) / 3 * 4 + tail.size());
    body += head;
    appendBase64(body, png);
    body += tail;
    answer(request, response, std::move(body));
    std::printf("edit: %dx%d, prompt \"%s\"%s\n", image->width(), image->height(), prompt->c_str(),
                theme ? (", theme " + *theme).c_str() : "");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    // The server runs on the desktop it serves: its image work leaves the cores to the
    // editor's window and the X server, whose frames are due while an edit waits. Every
    // thread started from here on inherits the lower priority.
    constexpr int lowerPriorityBy = 10;
    errno = 0;
    if (nice(lowerPriorityBy) == -1 && errno != 0)
        std::perror("nice");
    // Port 0 lets the system pick a free port; the first line of output names it.
    const int requested = argc > 1 ? std::atoi(argv[1]) : 8765;
    if (requested < 0 || requested > 65535) {
        std::fprintf(stderr, "usage: %s [port]\n", argv[0]);
        return 2;
    }
    httplib::Server server;
    server.set_payload_max_length(512 * 1024 * 1024);
    server.Post("/edit", handleEdit);
    const int port = requested == 0
                         ? server.bind_to_any_port("127.0.0.1")
                         : (server.bind_to_port("127.0.0.1", requested) ? requested : -1);
    if (port <= 0) {
        std::fprintf(stderr, "Cannot listen on 127.0.0.1:%d\n", requested);
        return 1;
    }
    // Said only once the socket listens, so whoever waits for this line can connect at once.
    std::printf("Pixaloom edit server on http://127.0.0.1:%d\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
