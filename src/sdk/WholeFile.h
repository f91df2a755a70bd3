#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Files the SDKs keep in the user's cache, written whole or not at all.
namespace WholeFile {
// Replaces the file at `path` with `contents` through a temporary file and a rename. False
// when the bytes did not all reach the disk (a full disk, say); then no shortened file is
// left at `path`.
bool write(const QString& path, const QByteArray& contents);
std::optional<QByteArray> read(const QString& path);
} // namespace WholeFile
