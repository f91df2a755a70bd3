#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM").
inline qint64 statusBytes(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').front().toLongLong() * 1024;
    return -1;
}

// Sets the resident high-water mark (VmHWM) back to what is resident now.
inline bool resetPeak() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}
