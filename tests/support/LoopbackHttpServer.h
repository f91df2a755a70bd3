#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

// An HTTP/1.1 server on 127.0.0.1 (a free port) on its own thread, for tests. It reads one
// request per connection, answers it with the next scripted reply (or the default one) and
// closes. Every request is recorded with its headers and body. The server can refuse connections
// while keeping its port, and it ends by itself when destroyed or when its lifetime runs out.
class LoopbackHttpServer {
public:
    using Header = std::pair<QByteArray, QByteArray>;

    struct Reply {
        int status = 200;
        std::vector<Header> headers{};
        QByteArray body{};
        // Before the status line is sent; cut short when the client hangs up.
        std::chrono::milliseconds delay{0};
        bool silent = false; // accept and read, then never answer
        // The body goes in this many pieces, each after this pause (the first one too, after
        // the status line and headers): a slow but steady sender.
        int bodyPieces = 1;
        std::chrono::milliseconds piecePause{0};
        // No Content-Length: the body ends when the server closes the connection.
        bool closeDelimited = false;
    };

    struct Request {
        QByteArray method;
        QByteArray target;
        std::vector<Header> headers; // in the order sent
        QByteArray body;
        int status = 0;       // as answered; 0 when no answer was sent
        bool delayed = false; // its answer waited: a client with a shorter time-out saw none

        // The first header of that name (case-insensitive), or none.
        std::optional<QByteArray> header(const QByteArray& name) const;
        // The content of the multipart/form-data part of that name, or none.
        std::optional<QByteArray> formValue(const QByteArray& name) const;
    };

    explicit LoopbackHttpServer(std::chrono::milliseconds lifetime = std::chrono::seconds(60));
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    quint16 port() const { return boundPort; }
    QString baseUrl() const; // "http://127.0.0.1:<port>"

    // The answers to the next requests, in order; afterwards every request gets the default.
    void enqueue(Reply reply);
    void script(std::vector<Reply> replies); // replaces the answers not yet given
    void setDefaultReply(Reply reply);
    // Answers from the request itself, ahead of the script and the default: a reply, or
    // nothing to let them answer.
    using Responder = std::function<std::optional<Reply>(const Request&)>;
    void setResponder(Responder responder);

    // Stops listening: connections are refused until acceptConnections() listens again. The
    // port stays ours meanwhile, so no other program can take it.
    void refuseConnections();
    void acceptConnections();

    // Requests in the order their exchange ended (answered or given up).
    std::vector<Request> requests() const;
    // Requests answered with a 2xx without delay: those the client saw accepted.
    std::vector<Request> accepted() const;

    // A JSON reply with the given status.
    static Reply json(int status, QByteArray body);
    // Polls `condition`, running the caller's events, until it holds or `timeout` passes.
    static bool waitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    bool running() const;
    void serve();
    void setListening(bool wanted);
    void updateListener();
    void handleConnection(int connection);
    bool readRequest(int connection, Request& request) const;
    bool clientWaits(int connection, std::chrono::steady_clock::time_point until) const;
    Reply nextReply(const Request& request);
    void sendReply(int connection, const Reply& reply) const;

    quint16 boundPort = 0;
    std::chrono::steady_clock::time_point deadline;
    std::atomic<bool> stopping{false};
    int listener = -1; // bound for the server's whole life; listens while `accepting`
    mutable std::mutex mutex;
    std::condition_variable listenerChanged;
    bool listening = true; // what the test wants
    bool accepting = true; // what the serving thread has made of it
    bool listenFailed = false;
    bool ended = false;
    std::deque<Reply> scripted;
    Reply defaultReply;
    Responder responder;
    std::vector<Request> recorded;
    std::thread thread;
};
