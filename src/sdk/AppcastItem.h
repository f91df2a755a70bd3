#pragma once

#include <QString>
#include <QUrl>

// One release described by the update feed. Links are http(s) or empty: the feed comes from
// the network and its links are handed to the desktop's URL handler.
struct AppcastItem {
    QString title;
    QString versionString;        // compared against the application's build version
    QString displayVersionString; // shown to the user, never compared
    QUrl infoURL;                 // the release's web page
    QUrl releaseNotesURL;
    QUrl fileURL;    // the download; empty for an item that only points to a web page
    QString channel; // empty: the default channel
    QString osString;

    bool isInformationOnly() const { return fileURL.isEmpty(); }
    // The page that offers the download: the release's page, else the download itself.
    QUrl downloadPageURL() const { return infoURL.isEmpty() ? fileURL : infoURL; }

    bool operator==(const AppcastItem&) const = default;
};
