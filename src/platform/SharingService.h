#pragma once

#include <QString>

// One way to share an image: an application the desktop registers for PNG images.
struct SharingService {
    QString identifier; // the desktop file's id, e.g. "org.gnome.eog.desktop"
    QString title;      // the application's display name

    bool operator==(const SharingService&) const = default;
};
