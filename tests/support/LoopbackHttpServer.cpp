#include "LoopbackHttpServer.h"

#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

constexpr int pollStepMs = 20;

bool sendAll(int connection, const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(connection, bytes.constData() + sent,
                                 static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

} // namespace

std::optional<QByteArray> LoopbackHttpServer::Request::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

LoopbackHttpServer::LoopbackHttpServer(std::chrono::milliseconds lifetime)
    : deadline(std::chrono::steady_clock::now() + lifetime) {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("loopback server: cannot listen on 127.0.0.1");
    boundPort = ntohs(address.sin_port);
    thread = std::thread([this] { serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stopping = true;
    thread.join();
    ::close(listener);
}

QString LoopbackHttpServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(boundPort);
}

void LoopbackHttpServer::enqueue(Reply reply) {
    std::lock_guard lock(mutex);
    script.push_back(std::move(reply));
}

void LoopbackHttpServer::setDefaultReply(Reply reply) {
    std::lock_guard lock(mutex);
    defaultReply = std::move(reply);
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::requests() const {
    std::lock_guard lock(mutex);
    return recorded;
}

LoopbackHttpServer::Reply LoopbackHttpServer::json(int status, QByteArray body) {
    Reply reply;
    reply.status = status;
    reply.reason = status == 200 ? "OK" : "Status";
    reply.headers = {{"Content-Type", "application/json"}};
    reply.body = std::move(body);
    return reply;
}

LoopbackHttpServer::Reply LoopbackHttpServer::nextReply() {
    std::lock_guard lock(mutex);
    if (script.empty())
        return defaultReply;
    Reply reply = std::move(script.front());
    script.pop_front();
    return reply;
}

bool LoopbackHttpServer::waitUntil(std::chrono::steady_clock::time_point until) const {
    while (std::chrono::steady_clock::now() < until) {
        if (stopping || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void LoopbackHttpServer::serve() {
    while (!stopping && std::chrono::steady_clock::now() < deadline) {
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, pollStepMs) <= 0)
            continue;
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        handleConnection(connection);
        ::close(connection);
    }
}

bool LoopbackHttpServer::readRequest(int connection, Request& request) {
    QByteArray received;
    qsizetype headerEnd = -1;
    qsizetype contentLength = 0;
    char buffer[65536];
    for (;;) {
        if (headerEnd >= 0 && received.size() >= headerEnd + 4 + contentLength)
            break;
        pollfd readable{connection, POLLIN, 0};
        if (stopping || std::chrono::steady_clock::now() >= deadline)
            return false;
        if (::poll(&readable, 1, pollStepMs) <= 0)
            continue;
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        received.append(buffer, n);
        if (headerEnd < 0 && (headerEnd = received.indexOf("\r\n\r\n")) >= 0) {
            const QList<QByteArray> lines = received.left(headerEnd).split('\n');
            const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
            request.method = requestLine.value(0);
            request.target = requestLine.value(1);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon < 0)
                    continue;
                Header header{lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()};
                if (header.first.compare("Content-Length", Qt::CaseInsensitive) == 0)
                    contentLength = header.second.toLongLong();
                request.headers.push_back(std::move(header));
            }
        }
    }
    request.raw = received.left(headerEnd + 4 + contentLength);
    request.body = received.mid(headerEnd + 4, contentLength);
    return true;
}

void LoopbackHttpServer::holdOpen(int connection) const {
    char buffer[4096];
    while (!stopping && std::chrono::steady_clock::now() < deadline) {
        pollfd readable{connection, POLLIN, 0};
        if (::poll(&readable, 1, pollStepMs) > 0 &&
            ::recv(connection, buffer, sizeof buffer, 0) <= 0)
            return; // the client gave up
    }
}

void LoopbackHttpServer::handleConnection(int connection) {
    Request request;
    if (!readRequest(connection, request))
        return;
    {
        std::lock_guard lock(mutex);
        recorded.push_back(request);
    }
    const Reply reply = nextReply();
    if (reply.silent) {
        holdOpen(connection);
        return;
    }
    if (!waitUntil(std::chrono::steady_clock::now() + reply.delay))
        return;
    if (reply.raw) {
        sendAll(connection, *reply.raw);
        return;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reply.reason + "\r\n";
    for (const auto& [name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    sendAll(connection, head + reply.body);
}
