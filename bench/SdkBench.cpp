// What a capture costs the GUI thread: both SDKs enabled, writing to a temporary folder and
// sending to a closed loopback port, so the worker threads do their full disk and network
// work meanwhile. Iterations are fixed so that the workers' backlog stays bounded.
#include "sdk/PostHogSDK.h"
#include "sdk/SentrySDK.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using namespace std::chrono_literals;

const QString closedPort = QStringLiteral("http://127.0.0.1:9");

void PostHogCaptureWithProperties(benchmark::State& state) {
    QTemporaryDir storage;
    PostHogConfig config(QStringLiteral("phc_benchkey"), closedPort);
    config.storageDirectoryPath = storage.path();
    config.dataDirectoryPath = storage.path();
    config.shutdownTimeInterval = 100ms;
    PostHogSDK sdk;
    sdk.setup(config);
    const AnalyticsProperties properties{
        {QStringLiteral("prompt"), QStringLiteral("make it look like a watercolour painting")},
        {QStringLiteral("theme"), QStringLiteral("watercolor")},
        {QStringLiteral("improve_prompt"), true},
        {QStringLiteral("image_width"), 1920LL},
        {QStringLiteral("image_height"), 1080LL},
    };
    sdk.capture(QStringLiteral("warm_up"));
    for (auto _ : state)
        sdk.capture(QStringLiteral("edit_started"), properties);
}
BENCHMARK(PostHogCaptureWithProperties)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void SentryCaptureMessage(benchmark::State& state) {
    QTemporaryDir cache;
    SentrySDK sdk;
    sdk.start([&](SentryOptions& options) {
        options.dsn = QStringLiteral("http://0123456789abcdef0123456789abcdef@127.0.0.1:9/1");
        options.cacheDirectoryPath = cache.path();
        options.enableCrashHandler = false;
        options.maxCacheItems = 30;
        options.shutdownTimeInterval = 100ms;
    });
    for (auto _ : state)
        sdk.captureMessage(QStringLiteral("Unexpected server response"));
}
BENCHMARK(SentryCaptureMessage)->Iterations(2000)->Unit(benchmark::kMicrosecond);

} // namespace
