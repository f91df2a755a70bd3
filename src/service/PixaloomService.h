#pragma once

#include "platform/Logger.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <QCoro/QCoroTask>

#include <chrono>
#include <optional>

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

    // Sends the image with the prompt, the optional theme key and the improve-prompt flag to
    // the edit server and returns the edited image's bytes. Throws only PixaloomError.
    // Runs on the GUI thread and suspends only while waiting for the server.
    QCoro::Task<QByteArray> generateImage(QString from, QImage originalImage,
                                          std::optional<QString> theme, bool improvePrompt);

    const QString& serverUrl() const;
    const QString& boundary() const;
};
