// A stand-in for the application as the SDK tests need it: analytics set up before the
// application object, crash reporting started after it, then the captures, the crash or the
// endless capturing (to be killed) that the arguments ask for, then an ordinary quit.
#include "sdk/NativeCrashHandler.h"
#include "sdk/PostHogSDK.h"
#include "sdk/SentrySDK.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace {
// In the unmapped first page, but not null: a null store is undefined before it faults.
volatile std::uintptr_t invalidAddress = 16;

// Recurses until the thread's stack runs out; the volatile frame keeps every level's stack.
int overflowStack(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth < 0) // never: keeps the recursion from looking endless to the compiler
        return 0;
    return overflowStack(depth + 1) + frame[0];
}

[[noreturn]] void crash(const QString& kind) {
    if (kind == QLatin1String("segv")) {
        *reinterpret_cast<volatile int*>(invalidAddress) = 1;
    } else if (kind == QLatin1String("throw")) {
        throw std::runtime_error("the child gave up");
    } else if (kind == QLatin1String("throw-latin1")) {
        throw std::runtime_error("caf\xE9 \"quoted\"\n\xFF");
    } else if (kind == QLatin1String("overflow-thread")) {
        // A thread of our own, not a QThread: it asks for its alternate stack itself.
        std::thread([] {
            NativeCrashHandler::prepareThread();
            overflowStack(0);
        }).join();
    } else if (kind == QLatin1String("overflow-pool")) {
        QThreadPool::globalInstance()->start([] { overflowStack(0); });
        QThreadPool::globalInstance()->waitForDone();
    }
    std::abort();
}

QString argumentAfter(const QStringList& arguments, const QString& name) {
    const auto index = arguments.indexOf(name);
    return index >= 0 && index + 1 < arguments.size() ? arguments.at(index + 1) : QString();
}
} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const auto option = [&](const char* name) {
        return argumentAfter(arguments, QLatin1String(name));
    };
    const int retryMs = option("--retry-ms").isEmpty() ? 100 : option("--retry-ms").toInt();

    PostHogConfig config(option("--posthog-key"), option("--posthog-host"));
    config.storageDirectoryPath = option("--storage");
    config.dataDirectoryPath = option("--storage");
    config.retryDelay = std::chrono::milliseconds(retryMs);
    config.maxRetryDelay = std::chrono::milliseconds(retryMs * 2);
    config.requestTimeout = std::chrono::milliseconds(1000);
    config.flushIntervalSeconds = 0.2;
    PostHogSDK::shared().setup(config);

    QCoreApplication application(argc, argv);
    SentrySDK::shared().start([&](SentryOptions& options) {
        options.dsn = option("--dsn");
        options.debug = true;
        options.diagnosticLevel = SentryLevel::debug;
        options.sendDefaultPii = true;
        options.enableAutoSessionTracking = true;
        options.environment = QStringLiteral("production");
        options.releaseName = QStringLiteral("com.app.pixaloom@1.0.0");
        options.cacheDirectoryPath = option("--sentry-cache");
        options.networkRetryInterval = std::chrono::milliseconds(retryMs);
        options.requestTimeout = std::chrono::milliseconds(1000);
    });

    // Before the worker has had a chance to make the crash folder.
    if (!option("--crash-at-start").isEmpty())
        crash(option("--crash-at-start"));

    const QString run = option("--run");
    for (int i = 0; i < option("--events").toInt(); ++i)
        PostHogSDK::shared().capture(
            QStringLiteral("child_event"),
            {{QStringLiteral("run"), run}, {QStringLiteral("index"), static_cast<long long>(i)}});
    for (int i = 0; i < option("--errors").toInt(); ++i)
        SentrySDK::shared().captureError({QStringLiteral("Pixaloom.PixaloomError"), i,
                                          QStringLiteral("run %1 error %2").arg(run).arg(i)});
    if (!option("--crash").isEmpty()) {
        SentrySDK::shared().captureMessage(QStringLiteral("about to crash"));
        crash(option("--crash"));
    }

    QTimer capturing;
    long long index = 0;
    if (arguments.contains(QStringLiteral("--forever"))) {
        QObject::connect(&capturing, &QTimer::timeout, [&] {
            PostHogSDK::shared().capture(QStringLiteral("endless"),
                                         {{QStringLiteral("index"), index++}});
            if (index % 5 == 0)
                SentrySDK::shared().captureMessage(QStringLiteral("endless %1").arg(index));
        });
        capturing.start(1);
        std::puts("capturing");
        std::fflush(stdout);
    } else {
        const int lingerMs = option("--linger-ms").toInt();
        QTimer::singleShot(lingerMs, &application, &QCoreApplication::quit);
    }
    return application.exec();
}
