#include "sdk/DiskQueue.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <vector>

#include "sdk/WholeFile.h"

namespace {
// "<name>.f<count><suffix>": the failed attempts to send an item, written into its name.
const QLatin1String failureMark(".f");
} // namespace

DiskQueue::DiskQueue(QString directory, QString suffix, int maxItems)
    : folder(std::move(directory))
    , suffix(std::move(suffix))
    , maxItems(std::max(1, maxItems)) {
}

bool DiskQueue::open() {
    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral(".")))
        return false;
    queued.clear();
    held.clear();
    // Names start with a fixed-width time and sequence, so name order is queue order.
    const auto names = dir.entryList(QDir::Files, QDir::Name);
    for (const auto& name : names) {
        if (name.endsWith(suffix))
            queued.push_back(dir.filePath(name));
        else
            dir.remove(name); // an unfinished temporary of a killed process
    }
    while (count() > maxItems)
        evictOldest();
    return true;
}

QString DiskQueue::nextName() {
    // The wall clock may step back; the names must not.
    lastMilliseconds = std::max(lastMilliseconds, QDateTime::currentMSecsSinceEpoch());
    const auto random = QRandomGenerator::global()->generate();
    return QStringLiteral("%1-%2-%3%4")
        .arg(lastMilliseconds, 15, 10, QLatin1Char('0'))
        .arg(sequence++, 8, 10, QLatin1Char('0'))
        .arg(random, 8, 16, QLatin1Char('0'))
        .arg(suffix);
}

bool DiskQueue::push(const QByteArray& contents, const QString& replaces) {
    writeHeld(); // room may have come free since
    const QString path = QDir(folder).filePath(nextName());
    held[path] = Held{contents, replaces};
    const bool written = writeHeld(path);
    queued.push_back(path);
    while (count() > maxItems)
        evictOldest();
    return written;
}

int DiskQueue::writeHeld() {
    std::vector<QString> paths;
    for (const auto& item : held)
        paths.push_back(item.first);
    // Oldest first; while the disk is still full the rest need not be tried.
    for (const auto& path : paths)
        if (!writeHeld(path))
            break;
    return heldCount();
}

bool DiskQueue::writeHeld(const QString& path) {
    const auto item = held.find(path);
    if (!WholeFile::write(path, item->second.contents))
        return false;
    if (!item->second.replaces.isEmpty())
        QFile::remove(item->second.replaces);
    held.erase(item);
    return true;
}

std::optional<QByteArray> DiskQueue::read(const QString& path) const {
    if (const auto item = held.find(path); item != held.end())
        return item->second.contents;
    return WholeFile::read(path);
}

void DiskQueue::remove(const QString& path) {
    forget(path);
    std::erase(queued, path);
}

void DiskQueue::forget(const QString& path) {
    if (const auto item = held.find(path); item != held.end()) {
        if (!item->second.replaces.isEmpty())
            QFile::remove(item->second.replaces);
        held.erase(item);
    }
    QFile::remove(path);
}

void DiskQueue::evictOldest() {
    const QString oldest = queued.front();
    queued.pop_front();
    ++dropped;
    if (evicted)
        if (const auto contents = read(oldest))
            evicted(*contents);
    forget(oldest);
}

bool DiskQueue::rewrite(const QString& path, const QByteArray& contents) {
    auto& item = held[path];
    item.contents = contents;
    return writeHeld(path);
}

void DiskQueue::setAside(const QString& path) {
    // Without the suffix, open() takes it for an unfinished temporary and deletes it.
    if (!QFile::rename(path, path + QStringLiteral(".unreadable")))
        QFile::remove(path);
    held.erase(path);
    std::erase(queued, path);
}

int DiskQueue::failures(const QString& path) const {
    const QString stem = path.chopped(suffix.size());
    const qsizetype mark = stem.lastIndexOf(failureMark);
    if (mark < 0 || mark < stem.lastIndexOf(QLatin1Char('/')))
        return 0;
    bool ok = false;
    const int count = stem.mid(mark + failureMark.size()).toInt(&ok);
    return ok ? count : 0;
}

std::optional<QString> DiskQueue::recordFailure(const QString& path) {
    const int count = failures(path);
    QString stem = path.chopped(suffix.size());
    if (count > 0)
        stem.truncate(stem.lastIndexOf(failureMark));
    const QString renamed = stem + failureMark + QString::number(count + 1) + suffix;
    const auto position = std::ranges::find(queued, path);
    if (position == queued.end())
        return std::nullopt;
    if (auto item = held.extract(path)) {
        item.key() = renamed;
        held.insert(std::move(item));
    } else if (!QFile::rename(path, renamed))
        return std::nullopt;
    *position = renamed;
    return renamed;
}
