#pragma once

#include <QByteArray>
#include <QString>

#include <deque>
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
    int count() const { return static_cast<int>(queued.size()); }
    // Items deleted to keep within `maxItems` since this queue was opened.
    int droppedCount() const { return dropped; }
    const QString& directory() const { return folder; }

private:
    QString nextName();

    QString folder;
    QString suffix;
    int maxItems;
    std::deque<QString> queued;
    int dropped = 0;
    qint64 lastMilliseconds = 0;
    quint32 sequence = 0;
};
