#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

// A loopback HTTP server (127.0.0.1 only) whose answers a test scripts: it accepts, refuses
// connections (stops listening, keeping its port), stalls, or answers a given status and
// headers, and records every request. It stops by itself after `lifetime`.
class ScriptedHttpServer {
public:
    struct Response {
        int status = 200;
        std::map<std::string, std::string> headers;
        std::string body = "{\"status\":1}";
        // Holds the request this long before answering (bounded by the server's lifetime).
        std::chrono::milliseconds stall{0};
    };
    struct Request {
        std::string method;
        std::string path;
        std::multimap<std::string, std::string> headers;
        std::string body;
        int status = 0;
        bool stalled = false;
        std::string header(const std::string& name) const;
    };

    explicit ScriptedHttpServer(std::chrono::seconds lifetime = std::chrono::seconds(60));
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    int port() const { return boundPort; }
    std::string url() const;

    // Listens again on the same port.
    void acceptConnections();
    // Closes the listening socket: connections are refused until acceptConnections().
    void refuseConnections();
    // The answers to the next requests, in order; afterwards every request gets `fallback`.
    void script(std::vector<Response> responses);
    void setFallback(Response response);

    std::vector<Request> requests() const;
    // Requests answered with a 2xx without stalling: those the client saw accepted.
    std::vector<Request> accepted() const;
    // Polls `condition` until it holds or `timeout` passes.
    static bool waitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    void listen();
    void stop();

    mutable std::mutex mutex;
    // Serialises starting and stopping, which the watchdog may do too.
    std::mutex lifecycle;
    std::condition_variable stopping;
    bool ended = false;
    int boundPort = 0;
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    std::thread watchdog;
    std::deque<Response> scripted;
    Response fallback;
    std::vector<Request> recorded;
};
