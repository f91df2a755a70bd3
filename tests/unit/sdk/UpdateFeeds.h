#pragma once

#include "LoopbackHttpServer.h"

#include <QByteArray>
#include <QString>

// Update feeds as publishers write them, for the tests that read and serve them.
namespace UpdateFeeds {

inline const QString sparkleNamespace =
    QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

// An item with the version elements and an enclosure; `extra` goes inside the item.
inline QString item(const QString& version, const QString& shortVersion,
                    const QString& extra = {}) {
    return QStringLiteral("<item><title>Version %2</title>"
                          "<sparkle:version>%1</sparkle:version>"
                          "<sparkle:shortVersionString>%2</sparkle:shortVersionString>"
                          "<sparkle:releaseNotesLink>https://example.com/notes/%2.html"
                          "</sparkle:releaseNotesLink>"
                          "<link>https://example.com/download</link>"
                          "<enclosure url=\"https://example.com/Pixaloom_%1.tar.gz\" "
                          "length=\"1623481\" type=\"application/octet-stream\"/>%3</item>")
        .arg(version, shortVersion, extra);
}

inline QByteArray feed(const QString& items, const QString& prefix = QStringLiteral("sparkle")) {
    QString body = QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                  "<rss version=\"2.0\" xmlns:%1=\"%2\"><channel>"
                                  "<title>Pixaloom updates</title>%3</channel></rss>\n")
                       .arg(prefix, sparkleNamespace, items);
    if (prefix != u"sparkle")
        body.replace(QStringLiteral("sparkle:"), prefix + u':');
    return body.toUtf8();
}

// Two items whose versions have far more parts than any release (160,001 each), as a broken
// or hostile feed may carry them; 640 kB in all.
inline QByteArray longVersionFeed() {
    const int pairs = 80000;
    return feed(item(u'1' + QStringLiteral(".1").repeated(pairs), QStringLiteral("9.1")) +
                item(u'1' + QStringLiteral("a.").repeated(pairs), QStringLiteral("9.2")));
}

inline LoopbackHttpServer::Reply xmlReply(QByteArray body) {
    return {200, {{"Content-Type", "application/rss+xml"}}, std::move(body)};
}

} // namespace UpdateFeeds
