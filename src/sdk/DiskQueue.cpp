#include "sdk/DiskQueue.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>

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
    while (count() > maxItems) {
        QFile::remove(queued.front());
        queued.pop_front();
        ++dropped;
    }
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
    while (count() > maxItems) {
        QFile::remove(queued.front());
        queued.pop_front();
        ++dropped;
    }
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
