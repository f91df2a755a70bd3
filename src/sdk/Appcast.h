#pragma once

#include "sdk/AppcastItem.h"

#include <QByteArray>
#include <QString>

#include <expected>
#include <optional>
#include <stop_token>
#include <vector>

// An update feed: an RSS document whose items describe releases in the Sparkle format.
// Reading it is bounded in size and depth, since the feed comes from the network.
class Appcast {
public:
    struct Limits {
        qsizetype maxBytes = 4 * 1024 * 1024;
        int maxDepth = 32;
    };

    static inline const QString sparkleNamespace =
        QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

    // What `parse` answers once `abandon` is asked to stop: whoever asked wants no answer.
    static inline const QString abandoned = QStringLiteral("abandoned");

    // The valid items in feed order, or why the document cannot be read.
    static std::expected<Appcast, QString> parse(const QByteArray& document, Limits limits,
                                                 std::stop_token abandon = {});
    static std::expected<Appcast, QString> parse(const QByteArray& document) {
        return parse(document, Limits{});
    }

    // The newest item meant for this system and the default channel (the first of equal
    // versions), or none; also none once `abandon` is asked to stop.
    std::optional<AppcastItem> bestItem(std::stop_token abandon = {}) const;
    // The best item when it is newer than `hostVersion`.
    std::optional<AppcastItem> validUpdate(const QString& hostVersion,
                                           std::stop_token abandon = {}) const;

    std::vector<AppcastItem> items;
    // Items without a version or a usable link, or whose version has more parts than the
    // version comparator compares.
    int invalidItemCount = 0;
};
