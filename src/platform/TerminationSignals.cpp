#include "platform/TerminationSignals.h"

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/Logger.h"

namespace {

constexpr std::array caughtSignals{SIGTERM, SIGINT, SIGHUP};
std::array<struct sigaction, caughtSignals.size()> previousActions{};
std::atomic<int> writeEnd{-1};

const Logger& logger() {
    static const Logger instance{QStringLiteral("com.app.pixaloom"),
                                 QStringLiteral("TerminationSignals")};
    return instance;
}

// Async-signal-safe: write only, errno left as the interrupted code had it. A full pipe
// already holds a signal that has not been read, so losing this one changes nothing.
void handleSignal(int signal) {
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    const int fd = writeEnd.load();
    if (fd >= 0)
        static_cast<void>(::write(fd, &number, 1));
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : onSignal(std::move(onSignal)) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        logger().error("Cannot catch termination signals: %s",
                       QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    readEnd = ends[0];
    writeEnd.store(ends[1]);
    notifier = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignals);
    struct sigaction action {};
    action.sa_handler = handleSignal;
    // Interrupted system calls elsewhere go on as if nothing happened.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < caughtSignals.size(); ++i) {
        sigaction(caughtSignals[i], nullptr, &previousActions[i]);
        // Whoever started us asked for it to be ignored (nohup, a shell's background job):
        // it stays so.
        if (previousActions[i].sa_handler != SIG_IGN)
            sigaction(caughtSignals[i], &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals() {
    if (!notifier)
        return;
    for (std::size_t i = 0; i < caughtSignals.size(); ++i)
        sigaction(caughtSignals[i], &previousActions[i], nullptr);
    ::close(writeEnd.exchange(-1));
    ::close(readEnd);
}

void TerminationSignals::readSignals() {
    unsigned char numbers[16];
    ssize_t count;
    while ((count = ::read(readEnd, numbers, sizeof(numbers))) > 0)
        for (ssize_t i = 0; i < count; ++i) {
            logger().info("Received SIG%s", QString::fromLatin1(::sigabbrev_np(numbers[i])));
            onSignal(numbers[i]);
        }
}
