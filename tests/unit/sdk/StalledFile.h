#pragma once

#include <QFile>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A file whose reading blocks, like a file on a disk that has stopped answering: a named pipe
// that gives its contents only when released. If the test never releases it, it releases
// itself after `bound`, so that a reader stuck on it cannot hang the test program.
class StalledFile {
public:
    explicit StalledFile(const QString& path,
                         std::chrono::milliseconds bound = std::chrono::seconds(5))
        : path(QFile::encodeName(path).toStdString()) {
        ::mkfifo(this->path.c_str(), 0600);
        watchdog = std::thread([this, bound] {
            std::unique_lock lock(mutex);
            if (changed.wait_for(lock, bound, [this] { return released; }))
                return;
            lock.unlock();
            giveContents({});
        });
    }
    ~StalledFile() {
        release({});
        watchdog.join();
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode))
            ::unlink(path.c_str());
    }
    StalledFile(const StalledFile&) = delete;
    StalledFile& operator=(const StalledFile&) = delete;

    // Lets the reader go on with `contents`; false when the file had to release itself first.
    bool release(const std::string& contents) {
        {
            std::lock_guard lock(mutex);
            if (released)
                return false;
            released = true;
        }
        changed.notify_all();
        giveContents(contents);
        return true;
    }

private:
    // Waits (bounded) for the reader to open the pipe, then writes and closes it.
    void giveContents(const std::string& contents) {
        {
            std::lock_guard lock(mutex);
            released = true;
        }
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int fd = -1;
        while ((fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 &&
               errno == ENXIO && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (fd < 0)
            return;
        [[maybe_unused]] const auto written = ::write(fd, contents.data(), contents.size());
        ::close(fd);
    }

    std::string path;
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    std::thread watchdog;
};
