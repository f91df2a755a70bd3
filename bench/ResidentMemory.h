#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QString>

#include <malloc.h>
#include <optional>

// The process's resident memory, read from /proc: now ("VmRSS") and its high-water mark
// ("VmHWM") in bytes, and the mark reset to what is resident now.
inline qint64 statusBytes(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').front().toLongLong() * 1024;
    return -1;
}

inline bool resetPeak() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

// Starts a new peak once what earlier runs left for deferred deletion is gone and freed memory
// is given back: what is resident then, or none when the peak cannot be reset.
inline std::optional<qint64> startResidentPeak() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    malloc_trim(0);
    const qint64 before = statusBytes("VmRSS");
    if (!resetPeak())
        return std::nullopt;
    return before;
}
