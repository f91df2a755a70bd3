#include "LoopbackHttpServer.h"

#include <QCoreApplication>
#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int pollStepMs = 20;

// Connections closed a moment ago still hold the port; listening again must not wait for them.
// While the server refuses connections the option is off: another socket asking to share the
// port would otherwise be let in.
void reuseAddress(int socket, bool reuse) {
    const int value = reuse ? 1 : 0;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &value, sizeof value);
}

int reusableSocket() {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket >= 0)
        reuseAddress(socket, true);
    return socket;
}

bool bindToLoopback(int socket, quint16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

quint16 portOf(int socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A listening socket on a free port of 127.0.0.1, or -1. The port is bound by its number: the
// kernel then keeps it for this socket even while it does not listen (after shutdown()), so
// refusing connections for a while never lets another program's socket take the port. A port
// picked by the kernel would be given up at the shutdown.
int openListener() {
    const int finder = reusableSocket();
    if (finder < 0)
        return -1;
    const bool found = bindToLoopback(finder, 0);
    const quint16 port = found ? portOf(finder) : 0;
    // Both sockets reuse addresses and neither listens yet, so both may hold the port now.
    const int socket = found ? reusableSocket() : -1;
    ::close(finder);
    if (socket < 0)
        return -1;
    if (!bindToLoopback(socket, port) || ::listen(socket, 64) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

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

QByteArray head(const LoopbackHttpServer::Reply& reply) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' +
                      (reply.status == 200 ? "OK" : "Status") + "\r\n";
    for (const auto& [name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    if (!reply.closeDelimited)
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}

} // namespace

std::optional<QByteArray> LoopbackHttpServer::Request::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

std::optional<QByteArray> LoopbackHttpServer::Request::formValue(const QByteArray& name) const {
    const QByteArray type = header("Content-Type").value_or(QByteArray());
    const qsizetype at = type.indexOf("boundary=");
    if (at < 0)
        return std::nullopt;
    const QByteArray delimiter = "\r\n--" + type.mid(at + 9).trimmed();
    const QByteArray named = "; name=\"" + name + '"';
    // With a line break in front, the first delimiter reads like every later one.
    const QByteArray framed = "\r\n" + body;
    qsizetype from = framed.indexOf(delimiter);
    while (from >= 0) {
        const qsizetype partStart = from + delimiter.size();
        const qsizetype next = framed.indexOf(delimiter, partStart);
        if (next < 0)
            break;
        const QByteArray part = framed.mid(partStart, next - partStart);
        const qsizetype headersEnd = part.indexOf("\r\n\r\n");
        if (headersEnd >= 0 && part.left(headersEnd).contains(named))
            return part.mid(headersEnd + 4);
        from = next;
    }
    return std::nullopt;
}

LoopbackHttpServer::LoopbackHttpServer(std::chrono::milliseconds lifetime)
    : deadline(Clock::now() + lifetime) {
    listener = openListener();
    if (listener < 0)
        throw std::runtime_error("loopback server: cannot listen on 127.0.0.1");
    boundPort = portOf(listener);
    thread = std::thread([this] { serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stopping = true;
    thread.join();
}

QString LoopbackHttpServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(boundPort);
}

void LoopbackHttpServer::enqueue(Reply reply) {
    std::lock_guard lock(mutex);
    scripted.push_back(std::move(reply));
}

void LoopbackHttpServer::script(std::vector<Reply> replies) {
    std::lock_guard lock(mutex);
    scripted.assign(std::make_move_iterator(replies.begin()),
                    std::make_move_iterator(replies.end()));
}

void LoopbackHttpServer::setDefaultReply(Reply reply) {
    std::lock_guard lock(mutex);
    defaultReply = std::move(reply);
}

void LoopbackHttpServer::refuseConnections() {
    setListening(false);
}

void LoopbackHttpServer::acceptConnections() {
    setListening(true);
}

// The serving thread owns the listening socket; this waits until it has followed the wish.
void LoopbackHttpServer::setListening(bool wanted) {
    std::unique_lock lock(mutex);
    listening = wanted;
    listenFailed = false;
    listenerChanged.wait(lock, [&] { return ended || listenFailed || accepting == wanted; });
    if (listenFailed)
        throw std::runtime_error("loopback server: cannot listen again on its port");
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::requests() const {
    std::lock_guard lock(mutex);
    return recorded;
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::accepted() const {
    std::vector<Request> result;
    for (auto& request : requests())
        if (request.status >= 200 && request.status < 300 && !request.delayed)
            result.push_back(std::move(request));
    return result;
}

LoopbackHttpServer::Reply LoopbackHttpServer::json(int status, QByteArray body) {
    return Reply{status, {{"Content-Type", "application/json"}}, std::move(body)};
}

bool LoopbackHttpServer::waitUntil(const std::function<bool()>& condition,
                                   std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= until)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool LoopbackHttpServer::running() const {
    return !stopping && Clock::now() < deadline;
}

// Connections are served one at a time: a client that waits for a late answer keeps the
// next ones in the backlog only until it gives up, and no test needs more.
void LoopbackHttpServer::serve() {
    while (running()) {
        updateListener();
        if (!accepting) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pollStepMs));
            continue;
        }
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, pollStepMs) <= 0)
            continue;
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        handleConnection(connection);
        ::close(connection);
    }
    {
        std::lock_guard lock(mutex);
        if (listener >= 0)
            ::close(listener);
        listener = -1;
        ended = true;
    }
    listenerChanged.notify_all();
}

void LoopbackHttpServer::updateListener() {
    {
        std::lock_guard lock(mutex);
        if (listening && !accepting) {
            reuseAddress(listener, true);
            accepting = ::listen(listener, 64) == 0;
            listenFailed = !accepting;
        } else if (!listening && accepting) {
            // Ends listening and resets what waits in the backlog; the port stays bound.
            ::shutdown(listener, SHUT_RDWR);
            reuseAddress(listener, false);
            accepting = false;
        }
    }
    listenerChanged.notify_all();
}

void LoopbackHttpServer::setResponder(Responder answer) {
    std::lock_guard lock(mutex);
    responder = std::move(answer);
}

LoopbackHttpServer::Reply LoopbackHttpServer::nextReply(const Request& request) {
    std::lock_guard lock(mutex);
    if (responder)
        if (auto reply = responder(request))
            return std::move(*reply);
    if (scripted.empty())
        return defaultReply;
    Reply reply = std::move(scripted.front());
    scripted.pop_front();
    return reply;
}

bool LoopbackHttpServer::readRequest(int connection, Request& request) const {
    QByteArray received;
    qsizetype headerEnd = -1;
    qsizetype contentLength = 0;
    char buffer[65536];
    while (headerEnd < 0 || received.size() < headerEnd + 4 + contentLength) {
        if (!running())
            return false;
        pollfd readable{connection, POLLIN, 0};
        if (::poll(&readable, 1, pollStepMs) <= 0)
            continue;
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        received.append(buffer, n);
        if (headerEnd >= 0 || (headerEnd = received.indexOf("\r\n\r\n")) < 0)
            continue;
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
    request.body = received.mid(headerEnd + 4, contentLength);
    return true;
}

// Whether the client is still connected at `until`; false as soon as it hangs up or the
// server ends.
bool LoopbackHttpServer::clientWaits(int connection, Clock::time_point until) const {
    char buffer[4096];
    for (auto now = Clock::now(); now < until; now = Clock::now()) {
        if (!running())
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        pollfd readable{connection, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(std::min<qint64>(left.count() + 1, pollStepMs))) >
                0 &&
            ::recv(connection, buffer, sizeof buffer, 0) <= 0)
            return false;
    }
    return running();
}

void LoopbackHttpServer::handleConnection(int connection) {
    Request request;
    if (!readRequest(connection, request))
        return;
    const Reply reply = nextReply(request);
    const auto answerAt = reply.silent ? deadline : Clock::now() + reply.delay;
    const bool answer = clientWaits(connection, answerAt) && !reply.silent;
    request.status = answer ? reply.status : 0;
    request.delayed = reply.delay.count() > 0;
    {
        // Recorded before the answer leaves, so a client that has its answer finds it here.
        std::lock_guard lock(mutex);
        recorded.push_back(request);
    }
    if (answer)
        sendReply(connection, reply);
}

void LoopbackHttpServer::sendReply(int connection, const Reply& reply) const {
    if (reply.bodyPieces <= 1) {
        sendAll(connection, head(reply) + reply.body);
        return;
    }
    if (!sendAll(connection, head(reply)))
        return;
    const qsizetype pieceSize = (reply.body.size() + reply.bodyPieces - 1) / reply.bodyPieces;
    for (qsizetype at = 0; at < reply.body.size(); at += pieceSize)
        if (!clientWaits(connection, Clock::now() + reply.piecePause) ||
            !sendAll(connection, reply.body.mid(at, pieceSize)))
            return;
}
