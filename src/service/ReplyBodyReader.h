#pragma once

#include <QByteArray>
#include <QMetaObject>

class QNetworkReply;

// Takes a reply's body as it arrives. Left in the reply, a large body would sit whole in Qt's
// buffer and be copied whole again when read at the end; here Qt reads ahead at most a few
// megabytes, and the body's room is made once, from the announced length, so that it is never
// copied to grow either.
class ReplyBodyReader {
public:
    explicit ReplyBodyReader(QNetworkReply& reply);
    ~ReplyBodyReader();
    ReplyBodyReader(const ReplyBodyReader&) = delete;
    ReplyBodyReader& operator=(const ReplyBodyReader&) = delete;

    // The whole body, once the reply has finished. Throws std::bad_alloc when there was no
    // memory for it (the reply was then aborted).
    QByteArray& finish();

private:
    // Appends what has arrived; false when there is no memory for it. Runs from Qt's signals,
    // so nothing may be thrown out of it.
    bool receive() noexcept;

    QNetworkReply& reply;
    QByteArray body;
    bool outOfMemory = false;
    QMetaObject::Connection arrivals;
};
