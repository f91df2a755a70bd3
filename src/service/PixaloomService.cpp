#include "service/PixaloomService.h"

#include "platform/BackgroundWork.h"
#include "platform/BundleInfo.h"
#include "platform/ShortenedText.h"
#include "sdk/SentrySDK.h"
#include "service/Base64.h"
#include "service/DecodingError.h"
#include "service/JsonDocument.h"
#include "service/JsonWriter.h"
#include "service/NetworkThread.h"
#include "service/PixaloomError.h"
#include "service/ServerResponse.h"
#include "service/TiffRepresentation.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <charconv>
#include <exception>

namespace {

// A failed HTTP exchange: no connection, the idle limit, a broken transfer.
struct TransportError {
    BridgedError error;
};

const QString transportDomain = QStringLiteral("QtNetwork.QNetworkReply");

// What a crash report carries of a failed reply's body: enough to read, and far below the
// 1 MB past which the crash-reporting service rejects an event whole.
constexpr qsizetype crashReportMessageLength = 8192;

QString seconds(std::chrono::steady_clock::time_point since) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - since;
    return QString::asprintf("%.2f", elapsed.count());
}

// The shortest text that reads back as the same double, with ".0" for whole numbers.
QString shortestText(double value) {
    char text[32];
    const auto result = std::to_chars(std::begin(text), std::end(text), value);
    QString written = QString::fromLatin1(text, result.ptr - text);
    if (!written.contains(u'.') && !written.contains(u'e') && !written.contains(u'n'))
        written += QStringLiteral(".0");
    return written;
}

// The first `count` characters, never splitting a surrogate pair.
QString firstCharacters(const QString& text, qsizetype count) {
    qsizetype end = 0;
    for (qsizetype taken = 0; end < text.size() && taken < count; ++taken)
        end += (text.at(end).isHighSurrogate() && end + 1 < text.size()) ? 2 : 1;
    return text.left(end);
}

// The first `count` characters of text known to be valid UTF-8, decoded from its first bytes
// only: a reply of many megabytes must not be converted whole to log a few characters.
QString leadingCharacters(const QByteArray& utf8, qsizetype count) {
    // A character takes at most four bytes; a byte order mark, which is dropped, three more.
    const qsizetype bytes = std::min(utf8.size(), count * 4 + 3);
    QStringDecoder decoder(QStringDecoder::Utf8);
    return firstCharacters(decoder(QByteArrayView(utf8).first(bytes)), count);
}

std::optional<QString> utf8Text(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// Qt's connection-level errors (below 100) mean the exchange itself broke, even after a status
// line arrived (a stall or a hang-up while the body was coming). Every other error that comes
// with a status code is Qt's reading of that status: the reply is still the server's answer.
bool exchangeBroke(const HttpExchange& exchange) {
    const int code = exchange.error;
    return code > QNetworkReply::NoError && code < QNetworkReply::ProxyConnectionRefusedError;
}

TransportError transportError(const HttpExchange& exchange) {
    // Qt ends a reply that hits its transfer timeout exactly as abort() does, so the error
    // alone cannot tell the two apart. No flag is needed here: the replies come from the
    // service's own network manager, which lives as long as the service, and nothing calls
    // abort() or close() on them (closing the editor does not cancel an edit). A cancelled
    // transfer is therefore always the idle limit. Whoever adds a cancellation must add a flag
    // of its own and read it here.
    const QString description = exchange.error == QNetworkReply::OperationCanceledError
                                    ? QStringLiteral("The request timed out.")
                                    : exchange.errorString;
    return TransportError{BridgedError{transportDomain, exchange.error, description}};
}

} // namespace

PixaloomService& PixaloomService::shared() {
    // Made once, even when first reached from several threads, and never released: replies in
    // flight at exit must not find it gone.
    static PixaloomService* const instance = new PixaloomService(
        Options{BundleInfo::main().string(BundleInfo::serverUrlKey).value_or(QString())});
    return *instance;
}

PixaloomService::PixaloomService(Options options)
    : logger(QStringLiteral("com.app.pixaloom"), QStringLiteral("PixaloomService"))
    , boundaryText(QStringLiteral("Boundary-") +
                   QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
    , serverUrlText(std::move(options.serverUrl))
    , endpoint(serverUrlText + QStringLiteral("/edit"))
    , crashReporter(options.crashReporter ? options.crashReporter : &SentrySDK::shared())
    , idleLimit(options.idleLimit) {
    logger.info("PixaloomService initialized with server URL: %s", serverUrlText);
}

PixaloomService::~PixaloomService() = default;

const QString& PixaloomService::serverUrl() const {
    return serverUrlText;
}

const QString& PixaloomService::boundary() const {
    return boundaryText;
}

NetworkThread& PixaloomService::network() {
    if (!networkThread)
        networkThread = std::make_unique<NetworkThread>();
    return *networkThread;
}

QByteArray PixaloomService::createMultipartFormData(const QImage& image, const QString& prompt,
                                                    const std::optional<QString>& theme,
                                                    bool improvePrompt) const {
    std::optional<QByteArray> body = multipartBody(image, prompt, theme, improvePrompt);
    if (!body)
        throw PixaloomError::invalidImage();
    return *std::move(body);
}

std::optional<QByteArray> PixaloomService::multipartBody(const QImage& image, const QString& prompt,
                                                         const std::optional<QString>& theme,
                                                         bool improvePrompt) const {
    const QByteArray delimiter = "--" + boundaryText.toUtf8() + "\r\n";
    const QByteArray promptText = prompt.toUtf8();
    const bool sendsTheme = theme && *theme != QStringLiteral("None");
    const QByteArray themeText = sendsTheme ? theme->toUtf8() : QByteArray();

    QByteArray body;
    body += delimiter;
    body += "Content-Disposition: form-data; name=\"image\"; filename=\"image.tiff\"\r\n";
    body += "Content-Type: image/tiff\r\n\r\n";
    // The image is by far the largest part: it is written straight into the body.
    if (!TiffRepresentation::appendTo(body, image, promptText.size() + themeText.size() + 512))
        return std::nullopt;
    body += "\r\n";
    body += delimiter;
    body += "Content-Disposition: form-data; name=\"prompt\"\r\n\r\n";
    body += promptText;
    body += "\r\n";
    if (sendsTheme) {
        body += delimiter;
        body += "Content-Disposition: form-data; name=\"theme\"\r\n\r\n";
        body += themeText;
        body += "\r\n";
    }
    body += delimiter;
    body += "Content-Disposition: form-data; name=\"improve_prompt\"\r\n\r\n";
    body += improvePrompt ? "true" : "false";
    body += "\r\n";
    body += "--" + boundaryText.toUtf8() + "--\r\n";
    return body;
}

QCoro::Task<QByteArray> PixaloomService::generateImage(QString from, QImage originalImage,
                                                       std::optional<QString> theme,
                                                       bool improvePrompt) {
    logger.info("Starting image generation with prompt: %s", from);
    if (theme && !theme->isEmpty())
        logger.info("Using theme: %s", *theme);
    logger.info("Improve prompt: %{bool}d", improvePrompt);
    const Clock::time_point startTime = Clock::now();
    const QSizeF size = originalImage.deviceIndependentSize();
    logger.info("Original image dimensions: %sx%s", shortestText(size.width()),
                shortestText(size.height()));

    try {
        // Encoding a 4K image takes tens of milliseconds: a worker thread builds the body
        // while the GUI thread goes on; the operation resumes on the GUI thread. The awaiter
        // is named, not a temporary of the co_await expression: g++ 12 destroys such
        // temporaries twice, and the work holds the image and the prompt.
        auto building = BackgroundWork::result([this, originalImage, from, theme, improvePrompt] {
            return multipartBody(originalImage, from, theme, improvePrompt);
        });
        const std::optional<QByteArray> built = co_await building;
        if (!built)
            throw PixaloomError::invalidImage();
        const QByteArray& body = *built;
        logger.info("Created multipart form data with size: %ld bytes", body.size());

        const QUrl url(endpoint);
        logger.info("Request URL: %s", url.toString(QUrl::FullyEncoded));
        QNetworkRequest request(url);
        request.setTransferTimeout(static_cast<int>(idleLimit.count()));
        // A redirect is the server's answer like any other status other than 200.
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setRawHeader("Content-Type",
                             "multipart/form-data; boundary=" + boundaryText.toUtf8());
        logger.info("Sending request to edit endpoint");
        const Clock::time_point requestStart = Clock::now();

        auto posting = network().post(request, body);
        HttpExchange exchange = co_await posting;
        if (exchange.outOfMemory)
            throw std::bad_alloc();
        QByteArray& replyBody = exchange.body;
        handleReply(exchange, requestStart);
        logger.info("Decoding response JSON");
        // Parsing megabytes of JSON and base64 runs on a worker thread too; what it found is
        // examined, logged and reported here, in the same order as before.
        auto parsing = BackgroundWork::result(
            [body = std::move(replyBody)]() mutable { return parseReply(std::move(body)); });
        const ParsedReply parsed = co_await parsing;
        co_return decodeReply(parsed, startTime);
    } catch (const PixaloomError& error) {
        logger.error("Pixaloom error: %s, duration: %s seconds", error.shortTextForm(),
                     seconds(startTime));
        crashReporter->captureError(error.bridged());
        throw;
    } catch (const TransportError& failure) {
        logger.error("Unexpected error: %s, duration: %s seconds", failure.error.description,
                     seconds(startTime));
        crashReporter->captureError(failure.error);
        throw PixaloomError::networkError(failure.error.description);
    } catch (const std::exception& error) {
        // Only a PixaloomError leaves the operation, whatever else went wrong (memory for a
        // huge reply, say).
        const BridgedError unexpected{QStringLiteral("std.exception"), 0,
                                      QString::fromLocal8Bit(error.what())};
        logger.error("Unexpected error: %s, duration: %s seconds", unexpected.description,
                     seconds(startTime));
        crashReporter->captureError(unexpected);
        throw PixaloomError::networkError(unexpected.description);
    }
}

void PixaloomService::handleReply(const HttpExchange& exchange,
                                  Clock::time_point requestStart) const {
    const QVariant& status = exchange.statusCode;
    const QByteArray& body = exchange.body;
    if (exchangeBroke(exchange) || (!status.isValid() && exchange.error != QNetworkReply::NoError))
        throw transportError(exchange);

    logger.info("Request completed in %s seconds", seconds(requestStart));
    logger.info("Response data size: %ld bytes", body.size());
    if (!status.isValid()) {
        logger.error("Invalid response type received");
        crashReporter->captureMessage(QStringLiteral("Invalid response type received"));
        throw PixaloomError::invalidResponse(QStringLiteral("Invalid response type"));
    }
    const int statusCode = status.toInt();
    logger.info("Received API response with status code: %ld", statusCode);
    logResponseHeaders(exchange.headers);
    if (statusCode != 200)
        handleErrorReply(statusCode, body);
}

PixaloomService::ParsedReply PixaloomService::parseReply(QByteArray body) {
    ParsedReply parsed;
    parsed.body = std::move(body);
    try {
        parsed.response = ServerResponse::decode(parsed.body);
        const auto& parts = parsed.response->parts;
        for (const ResponsePart& part : parts)
            parsed.contentLengths.push_back(part.contentLength());
        const auto imagePart = std::find_if(parts.begin(), parts.end(), isImagePart);
        // The parts' contents point into the body, which the image takes: only a reply that
        // succeeded is decoded, so a failed one keeps its body for the failure's report.
        if (parsed.response->success && imagePart != parts.end())
            parsed.image = Base64::decodeTaking(parsed.body, imagePart->content);
    } catch (...) {
        parsed.failure = std::current_exception();
    }
    return parsed;
}

bool PixaloomService::isImagePart(const ResponsePart& part) {
    return part.type == QStringLiteral("image");
}

void PixaloomService::logResponseHeaders(const QList<QNetworkReply::RawHeaderPair>& headers) const {
    QStringList names;
    for (const auto& [name, value] : headers) {
        const std::optional<QString> nameText = utf8Text(name);
        if (!nameText || !utf8Text(value))
            return;
        names += *nameText;
    }
    logger.info("Response headers: %s", names.join(QStringLiteral(", ")));
}

void PixaloomService::handleErrorReply(int statusCode, const QByteArray& body) const {
    // The message is the whole body, kept as it came; the log line and the crash report carry
    // its beginning, so a body of hundreds of megabytes is neither copied nor written out.
    const PixaloomError error =
        QByteArrayView(body).isValidUtf8()
            ? PixaloomError::apiErrorWithBody(statusCode, body)
            : PixaloomError::apiError(statusCode, QStringLiteral("Unknown error"));
    logger.error("API error (%ld): %s", statusCode,
                 error.shortenedMessage(Logger::maxMessageLength));
    logErrorReplyDetails(body);
    crashReporter->captureMessage(QStringLiteral("API error (") + QString::number(statusCode) +
                                  QStringLiteral("): ") +
                                  error.shortenedMessage(crashReportMessageLength));
    throw error;
}

void PixaloomService::logErrorReplyDetails(const QByteArray& body) const {
    // Read in place: the body's texts are not copied, however large the body is, and only the
    // beginning of the server's "error" text is decoded for its line.
    std::unique_ptr<JsonDocument> json;
    try {
        json = JsonDocument::parse(
            std::string_view(body.constData(), static_cast<size_t>(body.size())));
    } catch (const DecodingError& error) {
        logger.error("Could not parse error response: %s", error.localizedDescription());
        return;
    }
    const JsonValue& root = json->root();
    if (root.type != JsonValue::Type::object && root.type != JsonValue::Type::array) {
        // Generic JSON reading takes a document, not a lone value.
        logger.error("Could not parse error response: %s",
                     QStringLiteral("The JSON text is neither an object nor an array."));
        return;
    }
    const JsonValue* error = root.member("error");
    if (error && error->type == JsonValue::Type::string)
        logger.error(
            "Detailed error: %s",
            ShortenedText::ofUtf8(
                QByteArrayView(error->string.data(), static_cast<qsizetype>(error->string.size())),
                Logger::maxMessageLength));
    const JsonValue* timing = root.member("timing");
    if (timing && timing->type == JsonValue::Type::object) {
        JsonWriter text;
        text.value(*timing);
        logger.info("Error timing info: %s",
                    ShortenedText::ofUtf8(text.data(), Logger::maxMessageLength));
    }
}

QByteArray PixaloomService::decodeReply(const ParsedReply& parsed,
                                        Clock::time_point startTime) const {
    try {
        return runDecodingBlock(parsed, startTime);
    } catch (const DecodingError& error) {
        handleDecodingFailure(parsed.body, error.localizedDescription(), error.description(),
                              error.bridged());
    } catch (const PixaloomError& error) {
        handleDecodingFailure(parsed.body, error.localizedDescription(), error.textForm(),
                              error.bridged());
    }
}

QByteArray PixaloomService::runDecodingBlock(const ParsedReply& parsed,
                                             Clock::time_point startTime) const {
    if (parsed.failure)
        std::rethrow_exception(parsed.failure);
    const ServerResponse& response = *parsed.response;
    logger.info("Server response: success=%{bool}d, parts count=%ld", response.success,
                response.parts.size());
    if (response.timing)
        logger.info("Timing: total_ms=%f, api_ms=%f", response.timing->total_ms,
                    response.timing->api_ms.value_or(0));
    if (response.error)
        logger.error("Server reported error: %s", *response.error);
    if (!response.success) {
        logger.error("Server reported failure: %s",
                     response.error.value_or(QStringLiteral("No error details provided")));
        const QString failure = QStringLiteral("Server reported failure: ") +
                                response.error.value_or(QStringLiteral("Unknown error"));
        crashReporter->captureMessage(failure);
        throw PixaloomError::invalidResponse(failure);
    }
    for (size_t i = 0; i < response.parts.size(); ++i)
        logger.info("Response part %ld: type=%s, content length=%ld", i, response.parts[i].type,
                    parsed.contentLengths[i]);

    if (std::none_of(response.parts.begin(), response.parts.end(), isImagePart)) {
        logger.error("No image part found in response");
        crashReporter->captureMessage(QStringLiteral("No image part found in response"));
        throw PixaloomError::noImageInResponse();
    }
    if (!parsed.image) {
        logger.error("Invalid base64 image data in response");
        crashReporter->captureMessage(QStringLiteral("Invalid base64 image data in response"));
        throw PixaloomError::noImageInResponse();
    }
    logger.info("Successfully processed generated image data (%ld bytes) in %s seconds",
                parsed.image->size(), seconds(startTime));
    return *parsed.image;
}

void PixaloomService::handleDecodingFailure(const QByteArray& body,
                                            const QString& localizedDescription,
                                            const QString& textForm,
                                            const BridgedError& bridged) const {
    const bool isText = QByteArrayView(body).isValidUtf8();
    logger.error("Failed to decode response: %s", localizedDescription);
    logger.error("Response prefix: %s", isText ? leadingCharacters(body, 200)
                                               : QStringLiteral("Could not convert to string"));
    if (isText && body.contains("IMAGE_SAFETY")) {
        logger.error("Detected IMAGE_SAFETY block in response");
        crashReporter->captureMessage(QStringLiteral("Detected IMAGE_SAFETY block in response"));
        throw PixaloomError::apiError(400,
                                      QStringLiteral("Content blocked due to safety concerns"));
    }
    crashReporter->captureError(bridged);
    throw PixaloomError::invalidResponse(QStringLiteral("Failed to decode response: ") + textForm);
}
