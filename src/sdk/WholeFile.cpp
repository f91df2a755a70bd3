#include "sdk/WholeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace WholeFile {

bool write(const QString& path, const QByteArray& contents) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // QSaveFile buffers what it is given: on a full disk write() still reports every byte,
    // and commit() renames the shortened temporary into place as if all were well. Only the
    // flush sees the failure; without a commit the temporary is removed.
    if (file.write(contents) != contents.size() || !file.flush())
        return false;
    if (!file.commit())
        return false;
    // A file system may also take less than it was given and say so only on closing.
    if (QFileInfo(path).size() != contents.size()) {
        QFile::remove(path);
        return false;
    }
    return true;
}

std::optional<QByteArray> read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace WholeFile
