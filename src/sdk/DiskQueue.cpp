#include "sdk/DiskQueue.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>

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

std::optional<QString> DiskQueue::push(const QByteArray& contents) {
    const QString path = QDir(folder).filePath(nextName());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() ||
        !file.commit())
        return std::nullopt;
    queued.push_back(path);
    while (count() > maxItems)
        evictOldest();
    return path;
}

std::optional<QByteArray> DiskQueue::read(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

void DiskQueue::remove(const QString& path) {
    QFile::remove(path);
    std::erase(queued, path);
}

void DiskQueue::evictOldest() {
    const QString oldest = queued.front();
    queued.pop_front();
    ++dropped;
    if (evicted)
        if (const auto contents = read(oldest))
            evicted(*contents);
    QFile::remove(oldest);
}

bool DiskQueue::rewrite(const QString& path, const QByteArray& contents) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() &&
           file.commit();
}

void DiskQueue::setAside(const QString& path) {
    // Without the suffix, open() takes it for an unfinished temporary and deletes it.
    if (!QFile::rename(path, path + QStringLiteral(".unreadable")))
        QFile::remove(path);
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
    if (position == queued.end() || !QFile::rename(path, renamed))
        return std::nullopt;
    *position = renamed;
    return renamed;
}
