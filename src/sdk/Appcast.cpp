#include "sdk/Appcast.h"

#include "sdk/VersionComparator.h"

#include <QFileInfo>
#include <QXmlStreamReader>

namespace {

struct ElementName {
    QString namespaceUri;
    QString name;
};

// What an item's enclosure says, kept apart from the item's elements because the
// enclosure's attributes win over them.
struct ItemDraft {
    AppcastItem item;
    QString elementVersion;
    QString elementShortVersion;
    QString enclosureVersion;
    QString enclosureShortVersion;
    bool hasEnclosure = false;
    QString enclosureUrl;
    QString link;
    QString releaseNotesLink;
    bool releaseNotesLocalized = false;
};

bool isWebUrl(const QUrl& url) {
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == u"https" || url.scheme() == u"http");
}

// A web link, or empty: other schemes (file:, javascript:, custom handlers) are dropped.
QUrl webUrl(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    return isWebUrl(url) ? url : QUrl();
}

// "Pixaloom_1.5.2.tar.gz" -> "1.5.2.tar": the text between the last "_" and the last
// extension, as publishers have long relied on for feeds without a version element.
QString versionFromFileName(const QUrl& fileUrl) {
    const QString name = QFileInfo(fileUrl.path()).fileName();
    const qsizetype underscore = name.lastIndexOf(u'_');
    if (underscore < 0)
        return {};
    const qsizetype dot = name.lastIndexOf(u'.');
    const qsizetype end = dot > underscore ? dot : name.size();
    return name.mid(underscore + 1, end - underscore - 1);
}

std::optional<AppcastItem> finished(ItemDraft draft) {
    AppcastItem& item = draft.item;
    if (draft.hasEnclosure) {
        item.fileURL = webUrl(draft.enclosureUrl);
        if (item.fileURL.isEmpty())
            return std::nullopt;
    }
    item.infoURL = webUrl(draft.link);
    if (!draft.hasEnclosure && item.infoURL.isEmpty())
        return std::nullopt;
    item.releaseNotesURL = webUrl(draft.releaseNotesLink);
    item.versionString = !draft.enclosureVersion.isEmpty() ? draft.enclosureVersion
                         : !draft.elementVersion.isEmpty() ? draft.elementVersion
                                                           : versionFromFileName(item.fileURL);
    // A version of more parts than any release has is not compared: it could only be a
    // broken or hostile feed's.
    if (item.versionString.isEmpty() || !VersionComparator::parts(item.versionString))
        return std::nullopt;
    item.displayVersionString = !draft.enclosureShortVersion.isEmpty() ? draft.enclosureShortVersion
                                : !draft.elementShortVersion.isEmpty() ? draft.elementShortVersion
                                                                       : item.versionString;
    return std::move(item);
}

class AppcastReader {
public:
    AppcastReader(const QByteArray& document, Appcast::Limits limits, std::stop_token abandon)
        : reader(document)
        , limits(limits)
        , abandon(std::move(abandon)) {}

    std::expected<Appcast, QString> read() {
        while (!reader.atEnd()) {
            if (abandon.stop_requested())
                return std::unexpected(Appcast::abandoned);
            switch (reader.readNext()) {
            case QXmlStreamReader::StartElement:
                if (!startElement())
                    return std::unexpected(
                        QStringLiteral("elements nested deeper than %1").arg(limits.maxDepth));
                break;
            case QXmlStreamReader::Characters:
                if (draft)
                    text += reader.text();
                break;
            case QXmlStreamReader::EndElement:
                endElement();
                break;
            default:
                break;
            }
        }
        if (reader.hasError())
            return std::unexpected(
                QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(reader.errorString()));
        if (!sawRss)
            return std::unexpected(QStringLiteral("the document is not an RSS feed"));
        return std::move(appcast);
    }

private:
    bool isAt(int depth, const QString& namespaceUri, const QString& name) const {
        if (static_cast<int>(path.size()) != depth)
            return false;
        const ElementName& element = path.back();
        return element.namespaceUri == namespaceUri && element.name == name;
    }
    bool isChannelItem() const {
        return isAt(3, {}, QStringLiteral("item")) && path[0].name == u"rss" &&
               path[0].namespaceUri.isEmpty() && path[1].name == u"channel" &&
               path[1].namespaceUri.isEmpty();
    }
    bool isItemChild(const QString& namespaceUri, const QString& name) const {
        return draft && isAt(itemDepth + 1, namespaceUri, name);
    }
    QString sparkleAttribute(const QString& name) const {
        return reader.attributes().value(Appcast::sparkleNamespace, name).toString().trimmed();
    }

    bool startElement() {
        if (static_cast<int>(path.size()) >= limits.maxDepth) {
            reader.raiseError(QStringLiteral("too deeply nested"));
            return false;
        }
        path.push_back({reader.namespaceUri().toString(), reader.name().toString()});
        text.clear();
        if (isAt(1, {}, QStringLiteral("rss")))
            sawRss = true;
        // Items sit in the channel; enclosures nested further (delta updates) are not offers.
        if (!draft && isChannelItem()) {
            draft.emplace();
            itemDepth = 3;
        } else if (isItemChild({}, QStringLiteral("enclosure")) && !draft->hasEnclosure) {
            draft->hasEnclosure = true;
            draft->enclosureUrl = reader.attributes().value(QStringLiteral("url")).toString();
            draft->enclosureVersion = sparkleAttribute(QStringLiteral("version"));
            draft->enclosureShortVersion = sparkleAttribute(QStringLiteral("shortVersionString"));
            draft->item.osString = sparkleAttribute(QStringLiteral("os"));
        } else if (isItemChild(Appcast::sparkleNamespace, QStringLiteral("releaseNotesLink"))) {
            localizedElement = !reader.attributes().value(QStringLiteral("xml:lang")).isEmpty();
        }
        return true;
    }

    void endElement() {
        if (draft && static_cast<int>(path.size()) == itemDepth + 1)
            readItemChild(text.trimmed());
        if (draft && static_cast<int>(path.size()) == itemDepth) {
            if (auto item = finished(std::move(*draft)))
                appcast.items.push_back(std::move(*item));
            else
                ++appcast.invalidItemCount;
            draft.reset();
        }
        path.pop_back();
        text.clear();
    }

    void readItemChild(const QString& value) {
        const QString& sparkle = Appcast::sparkleNamespace;
        if (isItemChild({}, QStringLiteral("title")))
            draft->item.title = value;
        else if (isItemChild({}, QStringLiteral("link")))
            draft->link = value;
        else if (isItemChild(sparkle, QStringLiteral("version")))
            draft->elementVersion = value;
        else if (isItemChild(sparkle, QStringLiteral("shortVersionString")))
            draft->elementShortVersion = value;
        else if (isItemChild(sparkle, QStringLiteral("channel")))
            draft->item.channel = value;
        else if (isItemChild(sparkle, QStringLiteral("releaseNotesLink")))
            takeReleaseNotesLink(value);
    }

    // Localized copies may follow the plain link; the plain one, else the first, is kept.
    void takeReleaseNotesLink(const QString& value) {
        const bool unset = draft->releaseNotesLink.isEmpty();
        if (unset || (draft->releaseNotesLocalized && !localizedElement)) {
            draft->releaseNotesLink = value;
            draft->releaseNotesLocalized = localizedElement;
        }
    }

    QXmlStreamReader reader;
    Appcast::Limits limits;
    std::stop_token abandon;
    Appcast appcast;
    std::vector<ElementName> path;
    QString text;
    std::optional<ItemDraft> draft;
    int itemDepth = 0;
    bool localizedElement = false;
    bool sawRss = false;
};

bool isForThisSystem(const AppcastItem& item) {
    return (item.osString.isEmpty() || item.osString == u"linux") && item.channel.isEmpty();
}

} // namespace

std::expected<Appcast, QString> Appcast::parse(const QByteArray& document, Limits limits,
                                               std::stop_token abandon) {
    if (document.size() > limits.maxBytes)
        return std::unexpected(
            QStringLiteral("the feed is larger than %1 bytes").arg(limits.maxBytes));
    return AppcastReader(document, limits, std::move(abandon)).read();
}

std::optional<AppcastItem> Appcast::bestItem(std::stop_token abandon) const {
    const AppcastItem* best = nullptr;
    // Each version is split once: the best one is compared with every other item.
    VersionComparator::Parts bestParts;
    for (const AppcastItem& item : items) {
        if (abandon.stop_requested())
            return std::nullopt;
        if (!isForThisSystem(item))
            continue;
        auto parts = VersionComparator::parts(item.versionString);
        if (parts && (!best || VersionComparator::compare(*parts, bestParts) > 0)) {
            best = &item;
            bestParts = std::move(*parts);
        }
    }
    return best ? std::optional(*best) : std::nullopt;
}

std::optional<AppcastItem> Appcast::validUpdate(const QString& hostVersion,
                                                std::stop_token abandon) const {
    auto best = bestItem(std::move(abandon));
    if (best && VersionComparator::compare(hostVersion, best->versionString) < 0)
        return best;
    return std::nullopt;
}
