#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

// A real file system of a few pages (tmpfs) over a folder for the life of the object, such as
// a user's cache on a full disk. It is mounted in a mount namespace of the calling thread's own,
// so no other process sees it, except those the calling thread starts from then on (they
// inherit it). Needs the right to mount (root); `whyNot` says why when there is none.
class SmallDisk {
public:
    explicit SmallDisk(const QString& folder, int kibibytes = 64)
        : path(QFile::encodeName(folder).toStdString()) {
        const std::string options = "size=" + std::to_string(kibibytes) + "k,mode=0700";
        if (::unshare(CLONE_NEWNS) != 0)
            whyNot = "unshare: " + std::string(std::strerror(errno));
        // Private, so that the mount does not spread to the namespace we came from.
        else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            whyNot = "making / private: " + std::string(std::strerror(errno));
        else if (::mount("pixaloom-test", path.c_str(), "tmpfs", 0, options.c_str()) != 0)
            whyNot = "mount: " + std::string(std::strerror(errno));
        mounted = whyNot.empty();
    }
    ~SmallDisk() {
        if (mounted)
            ::umount2(path.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool isMounted() const { return mounted; }

    // Takes every free block with a file of its own: files can still be made, but nothing
    // written to them reaches the disk. Every file there is keeps its blocks through a second
    // name, so that what a program deletes meanwhile makes no room either.
    void fill() {
        QDir(folder()).mkpath(keptName);
        int kept = 0;
        for (QDirIterator it(folder(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString file = it.next();
            if (!file.startsWith(QDir(folder()).filePath(keptName)))
                ::link(QFile::encodeName(file).constData(),
                       QFile::encodeName(
                           QDir(folder()).filePath(keptName + "/" + QString::number(kept++)))
                           .constData());
        }
        const int fd =
            ::open(ballastPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        const std::string block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        const std::string byte(1, 'x');
        while (::write(fd, byte.data(), 1) > 0) {
        }
        ::close(fd);
    }
    void free() {
        ::unlink(ballastPath().c_str());
        QDir(QDir(folder()).filePath(keptName)).removeRecursively();
    }

    std::string whyNot;

private:
    std::string ballastPath() const { return path + "/ballast"; }
    QString folder() const { return QFile::decodeName(path.c_str()); }

    static inline const QString keptName = QStringLiteral("kept-blocks");

    std::string path;
    bool mounted = false;
};
