#pragma once

#include <QByteArray>
#include <QString>

#include <deque>
#include <functional>
#include <optional>

// A folder of files, one queued item each, oldest first. Every item is written to a temporary
// file and renamed into place, so a process killed at any moment leaves only whole items
// behind. When more than `maxItems` are queued the oldest are deleted and counted.
// One process uses a folder at a time.
class DiskQueue {
public:
    DiskQueue(QString directory, QString suffix, int maxItems);

    // Makes the folder, drops temporaries left by a killed process and loads what is queued.
    bool open();
    // Adds `contents` as the newest item; the path written, or nothing when writing failed.
    std::optional<QString> push(const QByteArray& contents);
    // Paths of the queued items, oldest first.
    const std::deque<QString>& items() const { return queued; }
    std::optional<QByteArray> read(const QString& path) const;
    void remove(const QString& path);
    // Replaces an item's contents in place; it keeps its position in the queue.
    bool rewrite(const QString& path, const QByteArray& contents);
    // Takes an item that cannot be read out of the queue. Its file stays on disk under another
    // name for a look by hand until the next open() clears it away.
    void setAside(const QString& path);
    // Counts one more failed attempt to send the item, in its file name so that the count
    // outlives the process. The item keeps its position; its new path, or nothing when the
    // file could not be renamed (then it counts as never tried).
    std::optional<QString> recordFailure(const QString& path);
    // The failed attempts recorded for the item at `path`.
    int failures(const QString& path) const;
    // Called with the contents of every item deleted to keep within `maxItems`, just before
    // its file goes.
    void onEvicted(std::function<void(const QByteArray&)> handler) { evicted = std::move(handler); }
    int count() const { return static_cast<int>(queued.size()); }
    // Items deleted to keep within `maxItems` since this queue was opened.
    int droppedCount() const { return dropped; }
    const QString& directory() const { return folder; }

private:
    QString nextName();
    void evictOldest();

    QString folder;
    QString suffix;
    int maxItems;
    std::deque<QString> queued;
    int dropped = 0;
    std::function<void(const QByteArray&)> evicted;
    qint64 lastMilliseconds = 0;
    quint32 sequence = 0;
};
