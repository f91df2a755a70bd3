#pragma once

#include "platform/Logger.h"
#include "sdk/BridgedError.h"
#include "service/ServerResponse.h"

#include <QByteArray>
#include <QImage>
#include <QNetworkReply>
#include <QString>

#include <QCoro/QCoroTask>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

class DecodingError;
class NetworkThread;
class PixaloomError;
class SentrySDK;
struct HttpExchange;

// The client of the edit server. The application uses the one shared instance; tests make
// their own with another base URL, crash reporter or idle limit.
class PixaloomService {
public:
    struct Options {
        QString serverUrl;                           // scheme and host, no trailing "/"
        SentrySDK* crashReporter = nullptr;          // SentrySDK::shared() when null
        std::chrono::milliseconds idleLimit{60'000}; // without data this long: time-out
    };

    static PixaloomService& shared();
    explicit PixaloomService(Options options);
    ~PixaloomService();
    PixaloomService(const PixaloomService&) = delete;
    PixaloomService& operator=(const PixaloomService&) = delete;

    // Sends the image with the prompt, the optional theme key and the improve-prompt flag to
    // the edit server and returns the edited image's bytes. Throws only PixaloomError.
    // Runs on the GUI thread and suspends only while waiting for the server.
    QCoro::Task<QByteArray> generateImage(QString from, QImage originalImage,
                                          std::optional<QString> theme, bool improvePrompt);

    const QString& serverUrl() const;
    const QString& boundary() const;

    // The request body: image (TIFF), prompt, theme (unless none or "None"), improve_prompt.
    // Throws PixaloomError::invalidImage for an image without a TIFF representation.
    QByteArray createMultipartFormData(const QImage& image, const QString& prompt,
                                       const std::optional<QString>& theme,
                                       bool improvePrompt) const;

private:
    using Clock = std::chrono::steady_clock;

    NetworkThread& network();
    // What a worker thread made of a 200 reply's body: the decoded reply, its parts' lengths
    // in characters, and the bytes of its first image part when the reply succeeded (decoded
    // into the body's memory: the body is then empty; none when the part is not base64), or
    // the failure of decoding. The body is left as it came unless the image took it.
    struct ParsedReply {
        QByteArray body;
        std::optional<ServerResponse> response;
        std::vector<qsizetype> contentLengths;
        std::optional<QByteArray> image;
        std::exception_ptr failure;
    };

    std::optional<QByteArray> multipartBody(const QImage& image, const QString& prompt,
                                            const std::optional<QString>& theme,
                                            bool improvePrompt) const;
    // Checks and logs the HTTP reply; returns for a 200 reply, throws for the rest.
    void handleReply(const HttpExchange& exchange, Clock::time_point requestStart) const;
    static ParsedReply parseReply(QByteArray body);
    static bool isImagePart(const ResponsePart& part);
    void logResponseHeaders(const QList<QNetworkReply::RawHeaderPair>& headers) const;
    [[noreturn]] void handleErrorReply(int statusCode, const QByteArray& body) const;
    void logErrorReplyDetails(const QByteArray& body) const;
    QByteArray decodeReply(const ParsedReply& parsed, Clock::time_point startTime) const;
    QByteArray runDecodingBlock(const ParsedReply& parsed, Clock::time_point startTime) const;
    [[noreturn]] void handleDecodingFailure(const QByteArray& body,
                                            const QString& localizedDescription,
                                            const QString& textForm,
                                            const BridgedError& bridged) const;

    Logger logger;
    QString boundaryText;
    QString serverUrlText;
    QString endpoint; // serverUrl + "/edit", fixed for the instance
    SentrySDK* crashReporter;
    std::chrono::milliseconds idleLimit;
    std::unique_ptr<NetworkThread> networkThread; // started at first use
};
