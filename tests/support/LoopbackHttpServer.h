#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

// An HTTP/1.1 server on 127.0.0.1 (a free port) on its own thread, for tests. It answers
// each request with the next scripted reply (or the default one), records every request's
// raw bytes, and ends by itself when destroyed or when its lifetime runs out.
class LoopbackHttpServer {
public:
    using Header = std::pair<QByteArray, QByteArray>;

    struct Reply {
        int status = 200;
        QByteArray reason = "OK";
        std::vector<Header> headers;
        QByteArray body;
        std::chrono::milliseconds delay{0}; // before the status line is sent
        bool silent = false;                // accept and read, then never answer
        std::optional<QByteArray> raw;      // sent verbatim instead of a built reply
    };

    struct Request {
        QByteArray raw; // request line, headers and body as received
        QByteArray method;
        QByteArray target;
        std::vector<Header> headers; // in the order sent
        QByteArray body;

        // The first header of that name (case-insensitive), or none.
        std::optional<QByteArray> header(const QByteArray& name) const;
    };

    explicit LoopbackHttpServer(std::chrono::milliseconds lifetime = std::chrono::seconds(30));
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    quint16 port() const { return boundPort; }
    QString baseUrl() const; // "http://127.0.0.1:<port>"

    void enqueue(Reply reply);
    void setDefaultReply(Reply reply);
    std::vector<Request> requests() const;

    // A JSON reply with the given status.
    static Reply json(int status, QByteArray body);

private:
    void serve();
    void handleConnection(int connection);
    bool readRequest(int connection, Request& request);
    Reply nextReply();
    bool waitUntil(std::chrono::steady_clock::time_point until) const;
    void holdOpen(int connection) const;

    int listener = -1;
    quint16 boundPort = 0;
    std::chrono::steady_clock::time_point deadline;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::deque<Reply> script;
    Reply defaultReply;
    std::vector<Request> recorded;
    std::thread thread;
};
