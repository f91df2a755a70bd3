#include "service/NetworkThread.h"

#include "platform/MainQueue.h"

#include <QNetworkAccessManager>
#include <QThread>

#include <new>

namespace {

HttpExchange exchangeOf(QNetworkReply& reply, ReplyBodyReader& received) {
    HttpExchange exchange;
    exchange.error = reply.error();
    exchange.errorString = reply.errorString();
    exchange.statusCode = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    exchange.headers = reply.rawHeaderPairs();
    try {
        exchange.body = std::move(received.finish());
    } catch (const std::bad_alloc&) {
        exchange.outOfMemory = true;
    }
    return exchange;
}

} // namespace

NetworkThread::NetworkThread()
    : thread(std::make_unique<QThread>())
    , context(std::make_unique<QObject>()) {
    thread->setObjectName(QStringLiteral("Pixaloom network"));
    context->moveToThread(thread.get());
    thread->start();
}

NetworkThread::~NetworkThread() {
    // The manager and its replies go in the thread they belong to.
    QMetaObject::invokeMethod(
        context.get(), [this] { access.reset(); }, Qt::BlockingQueuedConnection);
    thread->quit();
    thread->wait();
    context.reset();
}

QNetworkAccessManager& NetworkThread::manager() {
    if (!access)
        access = std::make_unique<QNetworkAccessManager>();
    return *access;
}

NetworkThread::Post NetworkThread::post(QNetworkRequest request, QByteArray body) {
    return Post(*this, std::move(request), std::move(body));
}

NetworkThread::Post::Post(NetworkThread& network, QNetworkRequest request, QByteArray body)
    : network(network)
    , request(std::move(request))
    , body(std::move(body)) {
}

void NetworkThread::Post::await_suspend(std::coroutine_handle<> handle) {
    QMetaObject::invokeMethod(network.context.get(), [this, handle] {
        QNetworkReply* reply = network.manager().post(request, body);
        received = std::make_shared<ReplyBodyReader>(*reply);
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, handle, reply] {
            exchange.emplace(exchangeOf(*reply, *received));
            received.reset();
            reply->deleteLater();
            MainQueue::async([handle] { handle.resume(); });
        });
    });
}
