#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>
#include <QVariant>

#include "service/ReplyBodyReader.h"

#include <coroutine>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QThread;

// What an HTTP exchange ended with, read off its reply on the network thread.
struct HttpExchange {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorString;
    QVariant statusCode; // invalid when no status line came
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray body;
    bool outOfMemory = false; // there was no memory for the body; the reply was aborted
};

// A thread of its own for a network access manager. Qt hands an upload to its HTTP thread in
// small pieces, each fetched from the thread the reply lives in: on the GUI thread a large
// request waits for every animation frame drawn meanwhile. Here the pieces, and the reply's
// body as it arrives, never touch the GUI thread.
class NetworkThread {
public:
    NetworkThread();
    ~NetworkThread();
    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;

    // `co_await network.post(request, body)` in a coroutine on the GUI thread: the request is
    // sent from the network thread and the coroutine resumes, with the exchange, as a job of
    // its own on the main queue. The awaiter lives in the suspended coroutine's frame.
    class [[nodiscard]] Post {
    public:
        Post(NetworkThread& network, QNetworkRequest request, QByteArray body);
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle);
        HttpExchange await_resume() { return std::move(*exchange); }

    private:
        NetworkThread& network;
        QNetworkRequest request;
        QByteArray body;
        std::shared_ptr<ReplyBodyReader> received; // on the network thread only
        std::optional<HttpExchange> exchange;
    };
    Post post(QNetworkRequest request, QByteArray body);

private:
    // Runs on the network thread.
    QNetworkAccessManager& manager();

    std::unique_ptr<QThread> thread;
    std::unique_ptr<QObject> context;              // lives in the thread
    std::unique_ptr<QNetworkAccessManager> access; // made and used in the thread only
};
