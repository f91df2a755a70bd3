#pragma once

#include <QByteArray>
#include <QString>

#include <deque>
#include <functional>
#include <map>
#include <optional>

// A folder of files, one queued item each, oldest first. Every item is written to a temporary
// file and renamed into place, so a process killed at any moment leaves only whole items
// behind. An item whose file could not be written (a full disk) stays queued in memory, in
// its place, and its file is written again at every push() and writeHeld() until it is on
// disk or has left the queue; what is still held when the process ends is lost. When more
// than `maxItems` are queued the oldest are deleted and counted. One process uses a folder
// at a time.
class DiskQueue {
public:
    DiskQueue(QString directory, QString suffix, int maxItems);

    // Makes the folder, drops temporaries left by a killed process and loads what is queued.
    bool open();
    // Adds `contents` as the newest item; whether its file was written. `replaces`, if given,
    // is a file holding the same item in another form: it is removed once the item is on disk
    // or has left the queue, and stays as long as only memory holds the item.
    bool push(const QByteArray& contents, const QString& replaces = {});
    // Writes the files of the items held in memory; how many are still held.
    int writeHeld();
    int heldCount() const { return static_cast<int>(held.size()); }
    // Paths of the queued items, oldest first.
    const std::deque<QString>& items() const { return queued; }
    std::optional<QByteArray> read(const QString& path) const;
    void remove(const QString& path);
    // Replaces an item's contents in place; it keeps its position in the queue. False when the
    // file could not be written: the new contents are then held in memory.
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
    struct Held {
        QByteArray contents;
        QString replaces;
    };

    QString nextName();
    void evictOldest();
    // The item left the queue: its file, its place in memory and the file it replaced go.
    void forget(const QString& path);
    // Writes the file of one held item; once written, the item is no longer held.
    bool writeHeld(const QString& path);

    QString folder;
    QString suffix;
    int maxItems;
    std::deque<QString> queued;
    // Items whose file is not written yet, by the path it is to have.
    std::map<QString, Held> held;
    int dropped = 0;
    std::function<void(const QByteArray&)> evicted;
    qint64 lastMilliseconds = 0;
    quint32 sequence = 0;
};
