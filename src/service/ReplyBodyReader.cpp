#include "service/ReplyBodyReader.h"

#include <QNetworkReply>

#include <algorithm>
#include <new>

namespace {
// What Qt holds of a body before it is taken.
constexpr qint64 readBufferSize = 4 * 1024 * 1024;
// An announced length past this is not reserved up front: it may be a lie.
constexpr qint64 largestReservation = qint64(1) << 30;
} // namespace

ReplyBodyReader::ReplyBodyReader(QNetworkReply& reply)
    : reply(reply) {
    reply.setReadBufferSize(readBufferSize);
    arrivals = QObject::connect(&reply, &QNetworkReply::readyRead, &reply, [this] {
        if (!receive()) {
            outOfMemory = true;
            this->reply.abort();
        }
    });
}

ReplyBodyReader::~ReplyBodyReader() {
    QObject::disconnect(arrivals);
}

QByteArray& ReplyBodyReader::finish() {
    if (outOfMemory || !receive())
        throw std::bad_alloc();
    return body;
}

bool ReplyBodyReader::receive() noexcept {
    try {
        if (body.capacity() == 0) {
            const qint64 announced =
                reply.header(QNetworkRequest::ContentLengthHeader).toLongLong();
            if (announced > 0 && announced <= largestReservation)
                body.reserve(static_cast<qsizetype>(announced));
        }
        const qint64 available = reply.bytesAvailable();
        if (available <= 0)
            return true;
        if (body.capacity() - body.size() < available)
            body.reserve(body.size() + std::max<qint64>(available, body.size()));
        const qsizetype at = body.size();
        body.resize(at + available);
        const qint64 read = reply.read(body.data() + at, available);
        body.truncate(at + std::max<qint64>(read, 0));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
