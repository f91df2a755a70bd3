#include "sdk/UpdateFeedLoader.h"

#include <QNetworkReply>
#include <QNetworkRequest>

UpdateFeedLoader::UpdateFeedLoader(Limits limits)
    : limits(limits) {
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, [this] { stop(Stop::timedOut); });
}

UpdateFeedLoader::~UpdateFeedLoader() {
    cancel();
}

void UpdateFeedLoader::load(const QUrl& url, const QByteArray& userAgent,
                            std::function<void(Result)> whenDone) {
    cancel();
    if (!url.isValid() || (url.scheme() != u"https" && url.scheme() != u"http")) {
        whenDone(std::unexpected(QStringLiteral("the feed URL is not an http(s) URL")));
        return;
    }
    done = std::move(whenDone);
    received.clear();
    stopped = Stop::none;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent);
    request.setRawHeader("Accept", "application/rss+xml, application/xml, text/xml");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(limits.maxRedirects);
    request.setTransferTimeout(static_cast<int>(limits.idleTimeout.count()));
    reply = network.get(request);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > limits.maxBytes)
            stop(Stop::tooLarge);
    });
    connect(reply, &QNetworkReply::readyRead, this, &UpdateFeedLoader::receive);
    connect(reply, &QNetworkReply::finished, this, &UpdateFeedLoader::finish);
    deadline.start(limits.totalTimeout);
}

void UpdateFeedLoader::cancel() {
    done = nullptr;
    deadline.stop();
    if (QNetworkReply* running = reply) {
        reply = nullptr;
        running->disconnect(this);
        running->abort();
        running->deleteLater();
    }
}

// Read as it arrives, so that an oversized body is never held whole.
void UpdateFeedLoader::receive() {
    if (!reply || stopped != Stop::none)
        return;
    received += reply->read(limits.maxBytes + 1 - received.size());
    if (received.size() > limits.maxBytes)
        stop(Stop::tooLarge);
}

void UpdateFeedLoader::stop(Stop reason) {
    if (!reply || stopped != Stop::none)
        return;
    stopped = reason;
    reply->abort(); // finishes the reply at once
}

void UpdateFeedLoader::finish() {
    QNetworkReply* finishedReply = reply;
    if (!finishedReply)
        return;
    receive();
    reply = nullptr;
    deadline.stop();
    finishedReply->deleteLater();
    auto whenDone = std::exchange(done, nullptr);
    const int status = finishedReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    Result result = received;
    // An abort ends the reply as OperationCanceledError: only our own stops abort it here.
    if (stopped == Stop::tooLarge)
        result = std::unexpected(
            QStringLiteral("the feed is larger than %1 bytes").arg(limits.maxBytes));
    else if (stopped == Stop::timedOut)
        result = std::unexpected(QStringLiteral("the feed did not arrive within %1 ms")
                                     .arg(limits.totalTimeout.count()));
    else if (finishedReply->error() == QNetworkReply::OperationCanceledError)
        result = std::unexpected(
            QStringLiteral("the server went silent for %1 ms").arg(limits.idleTimeout.count()));
    else if (finishedReply->error() == QNetworkReply::TooManyRedirectsError)
        result = std::unexpected(
            QStringLiteral("the feed redirected more than %1 times").arg(limits.maxRedirects));
    else if (status != 0 && (status < 200 || status >= 300))
        result = std::unexpected(QStringLiteral("the server answered with status %1").arg(status));
    else if (finishedReply->error() != QNetworkReply::NoError)
        result = std::unexpected(finishedReply->errorString());
    if (whenDone)
        whenDone(std::move(result));
}
