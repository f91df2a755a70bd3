#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

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
