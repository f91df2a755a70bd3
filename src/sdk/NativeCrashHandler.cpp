#include "sdk/NativeCrashHandler.h"

#include <QByteArray>
#include <QDir>
#include <QObject>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <deque>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <typeinfo>
#include <unistd.h>

// QtCore exports it for debugging tools; no public header declares it.
extern quintptr qtHookData[];

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

// The length of the UTF-8 sequence starting at `text`, or 0 when it is not a valid one
// (overlong forms, surrogates and code points past U+10FFFF included).
int utf8SequenceLength(const unsigned char* text) {
    const unsigned char lead = text[0];
    int length = 0;
    unsigned min = 0;
    unsigned codePoint = 0;
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) // also stops at the terminating zero
            return 0;
        codePoint = (codePoint << 6) | (text[i] & 0x3F);
    }
    if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

void awaitPendingWork() {
    if (::gettid() == workerThread.load())
        return;
    for (int step = 0; step < pendingWorkWaitSteps && pendingWork.load() > 0; ++step)
        ::nanosleep(&pendingWorkWaitStep, nullptr);
}

// Async-signal-safe: gettid, nanosleep, open, write, fsync, close, rename, clock_gettime
// only.
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
    NativeCrashHandler::writeJsonText(fd, type);
    writeText(fd, "\",\"value\":\"");
    NativeCrashHandler::writeJsonText(fd, value);
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
        writeCrash(type.c_str(), value.c_str(), "cxx_terminate", 0, nullptr);
    }
    if (previousTerminate)
        previousTerminate();
    std::abort();
}

// An alternate stack belongs to one thread, and without one a stack overflow on any thread
// but the main one leaves the kernel no room to run the handler, and so no crash report.
class ThreadAlternateStack {
public:
    ThreadAlternateStack() {
        stack_t current{};
        if (sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_DISABLE))
            return; // one is there already (a sanitizer's, say)
        void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (memory == MAP_FAILED)
            return;
        stack_t stack{};
        stack.ss_sp = memory;
        stack.ss_size = size;
        if (sigaltstack(&stack, nullptr) == 0)
            own = memory;
        else
            ::munmap(memory, size);
    }
    ~ThreadAlternateStack() {
        if (!own)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        ::munmap(own, size);
    }
    ThreadAlternateStack(const ThreadAlternateStack&) = delete;
    ThreadAlternateStack& operator=(const ThreadAlternateStack&) = delete;

private:
    static constexpr std::size_t size = 64 * 1024;
    void* own = nullptr;
};

// Qt's hooks for debugging tools (QtCore's private qhooks_p.h): an array of callbacks, one of
// which Qt calls for every QObject made, on the thread that makes it. Every QThread, those of
// Qt's thread pools and QtConcurrent included, makes its event dispatcher on itself before it
// runs anything, so this reaches them all without replacing pthread_create, which the
// sanitizers' runtimes need to see.
enum QtHook { qtHookDataSize = 1, qtHookAddQObject = 3 };
using AddQObjectCallback = void (*)(QObject*);
AddQObjectCallback previousAddQObject = nullptr;

void prepareQObjectThread(QObject* object) {
    NativeCrashHandler::prepareThread();
    if (previousAddQObject)
        previousAddQObject(object);
}

void hookQtThreads() {
    if (qtHookData[qtHookDataSize] <= qtHookAddQObject)
        return;
    previousAddQObject = reinterpret_cast<AddQObjectCallback>(qtHookData[qtHookAddQObject]);
    qtHookData[qtHookAddQObject] = reinterpret_cast<quintptr>(&prepareQObjectThread);
}

void installHandlers() {
    hookQtThreads();
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

void prepareThread() {
    // Made on the first call in each thread, released when the thread ends.
    static thread_local const ThreadAlternateStack stack;
}

// Any exception text must leave a readable crash file.
void writeJsonText(int fd, const char* text) {
    const auto* at = reinterpret_cast<const unsigned char*>(text);
    while (*at) {
        const int length = utf8SequenceLength(at);
        if (length == 0) {
            writeText(fd, "\\ufffd");
            ++at;
        } else if (*at == '"' || *at == '\\') {
            const char escaped[2] = {'\\', static_cast<char>(*at)};
            writeAll(fd, escaped, 2);
            ++at;
        } else if (*at < 0x20) {
            constexpr char hex[] = "0123456789abcdef";
            const char escaped[6] = {'\\', 'u', '0', '0', hex[*at >> 4], hex[*at & 0xF]};
            writeAll(fd, escaped, 6);
            ++at;
        } else {
            writeAll(fd, reinterpret_cast<const char*>(at), static_cast<std::size_t>(length));
            at += length;
        }
    }
}

} // namespace NativeCrashHandler
