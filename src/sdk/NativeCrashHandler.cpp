#include "sdk/NativeCrashHandler.h"

#include <QByteArray>
#include <QDir>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <deque>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <typeinfo>
#include <unistd.h>

namespace {

struct Signal {
    int number;
    const char* name;
    const char* description;
};

constexpr Signal handledSignals[] = {
    {SIGSEGV, "SIGSEGV", "Segfault"},
    {SIGABRT, "SIGABRT", "Abort"},
    {SIGBUS, "SIGBUS", "Bus error"},
    {SIGILL, "SIGILL", "Illegal instruction"},
    {SIGFPE, "SIGFPE", "Floating point exception"},
};
constexpr int signalCount = sizeof(handledSignals) / sizeof(handledSignals[0]);

// Everything the handler reads is made before a crash and never freed while installed.
struct CrashTarget {
    std::string temporaryPath;
    std::string finalPath;
    std::string eventPrefix;
};
std::atomic<const CrashTarget*> target{nullptr};
std::atomic<bool> crashWritten{false};
std::atomic<int> pendingWork{0};
std::atomic<pid_t> workerThread{0};
// Long enough for a few files to reach a working disk; a stalled one does not hold the crash.
constexpr int pendingWorkWaitSteps = 400;
constexpr timespec pendingWorkWaitStep{0, 5'000'000};
bool installed = false;
struct sigaction previousActions[signalCount];
std::terminate_handler previousTerminate = nullptr;
// A stack overflow leaves no stack for the handler; it runs on this one.
alignas(16) char alternateStack[64 * 1024];

void writeAll(int fd, const char* text, std::size_t length) {
    while (length > 0) {
        const auto written = ::write(fd, text, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

void writeText(int fd, const char* text) {
    writeAll(fd, text, std::strlen(text));
}

void writeNumber(int fd, long long value) {
    char digits[24];
    int position = sizeof(digits);
    const bool negative = value < 0;
    unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                            : static_cast<unsigned long long>(value);
    do {
        digits[--position] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    if (negative)
        digits[--position] = '-';
    writeAll(fd, digits + position, sizeof(digits) - position);
}

void awaitPendingWork() {
    if (::gettid() == workerThread.load())
        return;
    for (int step = 0; step < pendingWorkWaitSteps && pendingWork.load() > 0; ++step)
        ::nanosleep(&pendingWorkWaitStep, nullptr);
}

// Async-signal-safe: gettid, nanosleep, open, write, fsync, close, rename, clock_gettime
// only. `value` must already be valid inside a JSON string.
void writeCrash(const char* type, const char* value, const char* mechanism, int signal,
                const char* signalName) {
    if (!target.load())
        return;
    awaitPendingWork();
    const CrashTarget* crash = target.load();
    if (!crash)
        return;
    const int fd =
        ::open(crash->temporaryPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    writeAll(fd, crash->eventPrefix.data(), crash->eventPrefix.size());
    writeText(fd, ",\"timestamp\":");
    writeNumber(fd, now.tv_sec);
    writeText(fd, ",\"exception\":{\"values\":[{\"type\":\"");
    writeText(fd, type);
    writeText(fd, "\",\"value\":\"");
    writeText(fd, value);
    writeText(fd, "\",\"mechanism\":{\"type\":\"");
    writeText(fd, mechanism);
    writeText(fd, "\",\"handled\":false");
    if (signalName) {
        writeText(fd, ",\"synthetic\":true,\"meta\":{\"signal\":{\"name\":\"");
        writeText(fd, signalName);
        writeText(fd, "\",\"number\":");
        writeNumber(fd, signal);
        writeText(fd, "}}");
    }
    writeText(fd, "}}]}}\n");
    ::fsync(fd);
    ::close(fd);
    ::rename(crash->temporaryPath.c_str(), crash->finalPath.c_str());
}

void handleSignal(int signal, siginfo_t*, void*) {
    int index = 0;
    while (index < signalCount && handledSignals[index].number != signal)
        ++index;
    if (index == signalCount)
        return;
    const Signal& caught = handledSignals[index];
    if (!crashWritten.exchange(true))
        writeCrash(caught.name, caught.description, "signalhandler", caught.number, caught.name);
    // Hand the signal to whoever had it before; it is blocked until we return, then delivered
    // again (a faulting instruction also faults again), so the process ends as it would have.
    sigaction(signal, &previousActions[index], nullptr);
    raise(signal);
}

std::string jsonEscaped(const std::string& text) {
    std::string escaped;
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            escaped += '\\';
            escaped += static_cast<char>(c);
        } else if (c < 0x20) {
            escaped += ' ';
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return escaped;
}

void handleTerminate() {
    if (!crashWritten.exchange(true)) {
        std::string type = "std::terminate";
        std::string value = "terminate called without an active exception";
        if (const std::type_info* thrown = abi::__cxa_current_exception_type()) {
            int status = 0;
            char* demangled = abi::__cxa_demangle(thrown->name(), nullptr, nullptr, &status);
            type = status == 0 && demangled ? demangled : thrown->name();
            std::free(demangled);
            value.clear();
            try {
                std::rethrow_exception(std::current_exception());
            } catch (const std::exception& exception) {
                value = exception.what();
            } catch (...) {
            }
        }
        writeCrash(jsonEscaped(type).c_str(), jsonEscaped(value).c_str(), "cxx_terminate", 0,
                   nullptr);
    }
    if (previousTerminate)
        previousTerminate();
    std::abort();
}

void installHandlers() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
        stack_t stack{};
        stack.ss_sp = alternateStack;
        stack.ss_size = sizeof(alternateStack);
        sigaltstack(&stack, nullptr);
    }
    struct sigaction action {};
    action.sa_sigaction = handleSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < signalCount; ++i)
        sigaction(handledSignals[i].number, &action, &previousActions[i]);
    previousTerminate = std::set_terminate(handleTerminate);
}

} // namespace

namespace NativeCrashHandler {

void install(const QString& directory, const QString& eventId, const QByteArray& eventPrefix) {
    const QDir dir(directory);
    // Kept for the life of the process: a crash may read any of them at any moment.
    static std::deque<CrashTarget> targets;
    const CrashTarget& crash = targets.emplace_back(CrashTarget{
        QFile::encodeName(dir.filePath(eventId + QStringLiteral(".crash.tmp"))).toStdString(),
        QFile::encodeName(dir.filePath(eventId + QStringLiteral(".crash"))).toStdString(),
        eventPrefix.toStdString(),
    });
    target.store(&crash);
    if (!installed) {
        installed = true;
        installHandlers();
    }
}

void disable() {
    target.store(nullptr);
}

void beginPendingWork() {
    ++pendingWork;
}

void endPendingWork() {
    --pendingWork;
}

void setWorkerThread() {
    workerThread.store(::gettid());
}

} // namespace NativeCrashHandler
