#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <expected>
#include <functional>

class QNetworkReply;

// Downloads the update feed, bounded in every way a broken or hostile server could stretch
// it: size, redirects, silence and total time. One download at a time; lives on the update
// worker thread.
class UpdateFeedLoader : public QObject {
public:
    struct Limits {
        qint64 maxBytes = 4 * 1024 * 1024;
        int maxRedirects = 5;
        std::chrono::milliseconds idleTimeout{30000};
        // A server that sends a byte now and then never trips the idle limit.
        std::chrono::milliseconds totalTimeout{60000};
    };
    using Result = std::expected<QByteArray, QString>;

    explicit UpdateFeedLoader(Limits limits);
    ~UpdateFeedLoader() override;

    // Starts a download in place of any running one, whose `done` is then never called.
    void load(const QUrl& url, const QByteArray& userAgent, std::function<void(Result)> done);
    void cancel();

private:
    enum class Stop { none, tooLarge, timedOut };

    void receive();
    void stop(Stop reason);
    void finish();

    Limits limits;
    QNetworkAccessManager network;
    QTimer deadline;
    QPointer<QNetworkReply> reply;
    QByteArray received;
    Stop stopped = Stop::none;
    std::function<void(Result)> done;
};
