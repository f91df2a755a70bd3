#include "ScriptedHttpServer.h"

#include <QCoreApplication>

#include <httplib.h>

#include <strings.h>

namespace {
constexpr const char* loopback = "127.0.0.1";
}

std::string ScriptedHttpServer::Request::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    return {};
}

ScriptedHttpServer::ScriptedHttpServer(std::chrono::seconds lifetime) {
    listen();
    watchdog = std::thread([this, lifetime] {
        std::unique_lock lock(mutex);
        stopping.wait_for(lock, lifetime, [this] { return ended; });
        lock.unlock();
        stop();
    });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    {
        std::lock_guard lock(mutex);
        ended = true;
    }
    stopping.notify_all();
    watchdog.join();
}

std::string ScriptedHttpServer::url() const {
    return "http://127.0.0.1:" + std::to_string(boundPort);
}

void ScriptedHttpServer::listen() {
    std::lock_guard lifecycleLock(lifecycle);
    auto created = std::make_unique<httplib::Server>();
    created->set_keep_alive_max_count(1000);
    created->Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
        Response answer;
        {
            std::lock_guard lock(mutex);
            if (!scripted.empty()) {
                answer = scripted.front();
                scripted.pop_front();
            } else {
                answer = fallback;
            }
        }
        if (answer.stall.count() > 0) {
            std::unique_lock lock(mutex);
            stopping.wait_for(lock, answer.stall, [this] { return ended; });
        }
        response.status = answer.status;
        for (const auto& [name, value] : answer.headers)
            response.set_header(name, value);
        response.set_content(answer.body, "application/json");
        std::lock_guard lock(mutex);
        recorded.push_back({request.method,
                            request.path,
                            {request.headers.begin(), request.headers.end()},
                            request.body,
                            answer.status,
                            answer.stall.count() > 0});
    });
    if (boundPort == 0)
        boundPort = created->bind_to_any_port(loopback);
    else
        created->bind_to_port(loopback, boundPort);
    auto* running = created.get();
    listener = std::thread([running] { running->listen_after_bind(); });
    // A stop before the accept loop runs would be lost.
    while (!running->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard lock(mutex);
    server = std::move(created);
}

void ScriptedHttpServer::stop() {
    std::lock_guard lifecycleLock(lifecycle);
    std::unique_ptr<httplib::Server> running;
    {
        std::lock_guard lock(mutex);
        running = std::move(server);
    }
    if (running)
        running->stop();
    if (listener.joinable())
        listener.join();
}

void ScriptedHttpServer::acceptConnections() {
    stop();
    listen();
}

void ScriptedHttpServer::refuseConnections() {
    stop();
}

void ScriptedHttpServer::script(std::vector<Response> responses) {
    std::lock_guard lock(mutex);
    scripted.assign(responses.begin(), responses.end());
}

void ScriptedHttpServer::setFallback(Response response) {
    std::lock_guard lock(mutex);
    fallback = std::move(response);
}

std::vector<ScriptedHttpServer::Request> ScriptedHttpServer::requests() const {
    std::lock_guard lock(mutex);
    return recorded;
}

std::vector<ScriptedHttpServer::Request> ScriptedHttpServer::accepted() const {
    std::vector<Request> result;
    for (auto& request : requests())
        if (request.status >= 200 && request.status < 300 && !request.stalled)
            result.push_back(std::move(request));
    return result;
}

bool ScriptedHttpServer::waitUntil(const std::function<bool()>& condition,
                                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
