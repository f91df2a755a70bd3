#pragma once

#include "platform/Logger.h"
#include "sdk/BridgedError.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

class DecodingError;
class PixaloomError;
class QNetworkAccessManager;
class QNetworkReply;
class SentrySDK;

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

    QNetworkAccessManager& network();
    // `body`: the reply's body as received; the image may be decoded in its place.
    QByteArray handleReply(QNetworkReply& reply, QByteArray& body, Clock::time_point startTime,
                           Clock::time_point requestStart) const;
    void logResponseHeaders(const QNetworkReply& reply) const;
    [[noreturn]] void handleErrorReply(int statusCode, const QByteArray& body) const;
    // Both may take the body's memory for the image; on failure the body is left as it came.
    QByteArray decodeReply(QByteArray& body, Clock::time_point startTime) const;
    QByteArray runDecodingBlock(QByteArray& body, Clock::time_point startTime) const;
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
    std::unique_ptr<QNetworkAccessManager> networkAccess; // made on the GUI thread at first use
};
