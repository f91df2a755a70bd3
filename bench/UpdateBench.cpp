// What an update check costs the GUI thread: the CPU time the GUI thread spends from asking
// for a check until the delegate has the outcome, while the worker thread downloads and reads
// a real feed from a loopback server. The GUI thread waits in its event loop meanwhile, which
// costs no CPU, so the figure is the thread's own work for one check.
//
// What a feed built to be costly costs the worker: time and peak memory of reading and judging
// a feed of the largest size accepted (4 MiB). Target: under a second each.
//
// How long quitting waits for the updater while its worker reads a feed. Target: well under a
// second.
//
// Each gives the process's CPU (all threads) beside its wall time: work handed to another
// thread is paid for all the same.
#include "LoopbackHttpServer.h"
#include "ProcessCpu.h"
#include "ResidentMemory.h"
#include "TemporarySettings.h"
#include "platform/BundleInfo.h"
#include "sdk/Appcast.h"
#include "sdk/UpdateCheckerDelegate.h"
#include "sdk/UpdateController.h"

#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <ctime>
#include <malloc.h>

namespace {

using namespace std::chrono_literals;

QByteArray feedOf(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
           "<title>Pixaloom</title>" +
           items + "</channel></rss>";
}

// A feed as a long-lived application publishes it: one item per release.
QByteArray feedWithReleases(int count) {
    QByteArray items;
    for (int i = 1; i <= count; ++i) {
        const QByteArray version = "1." + QByteArray::number(i);
        items += "<item><title>Version " + version +
                 "</title><pubDate>Mon, 05 Oct 2026 19:20:11 "
                 "+0000</pubDate><sparkle:version>" +
                 QByteArray::number(100 + i) + "</sparkle:version><sparkle:shortVersionString>" +
                 version +
                 "</sparkle:shortVersionString><sparkle:releaseNotesLink>https://example.com/"
                 "notes/" +
                 version +
                 ".html</sparkle:releaseNotesLink><description><![CDATA["
                 "<ul><li>Faster captures</li><li>Fixes</li></ul>]]></description><enclosure "
                 "url=\"https://example.com/Pixaloom_" +
                 version +
                 ".tar.gz\" length=\"1623481\" "
                 "type=\"application/octet-stream\"/></item>";
    }
    return feedOf(items);
}

class QuitOnOutcome : public UpdateCheckerDelegate {
public:
    void updaterDidFindValidUpdate(UpdateChecker*, const AppcastItem&) override { loop.quit(); }
    void updaterDidNotFindUpdate(UpdateChecker*) override { loop.quit(); }
    QEventLoop loop;
};

// Automatic checks (no window) of a feed with `range(0)` releases, none newer than the host.
void UpdateCheckGuiThreadCost(benchmark::State& state) {
    TemporarySettings userSettings;
    LoopbackHttpServer server(10min);
    const QByteArray feed = feedWithReleases(static_cast<int>(state.range(0)));
    server.setDefaultReply({200, {{"Content-Type", "application/rss+xml"}}, feed});
    BundleInfo::setMainForTesting(
        BundleInfo({{BundleInfo::feedUrlKey, server.baseUrl() + QStringLiteral("/appcast.xml")},
                    {BundleInfo::versionKey, QStringLiteral("100000")}}));
    QuitOnOutcome delegate;
    UpdateController controller(false, &delegate);
    QTimer giveUp;
    QObject::connect(&giveUp, &QTimer::timeout, &delegate.loop, &QEventLoop::quit);
    double wall = 0;
    double processCpu = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double processStart = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double guiStart = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        controller.updater()->checkForUpdatesInBackground();
        giveUp.start(10s);
        delegate.loop.exec();
        state.SetIterationTime(cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - guiStart);
        processCpu += cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const auto perCheckMs = [&](double seconds) {
        return benchmark::Counter(seconds * 1000.0 / static_cast<double>(state.iterations()));
    };
    state.counters["wall_ms_per_check"] = perCheckMs(wall);
    // All threads, the loopback server's included.
    state.counters["process_cpu_ms_per_check"] = perCheckMs(processCpu);
    state.counters["feed_bytes"] = static_cast<double>(feed.size());
    BundleInfo::setMainForTesting(std::nullopt);
}
BENCHMARK(UpdateCheckGuiThreadCost)
    ->Arg(20)
    ->Arg(2000)
    ->UseManualTime()
    ->Iterations(50)
    ->Unit(benchmark::kMicrosecond);

QByteArray itemWithVersion(const QByteArray& version) {
    return "<item><sparkle:version>" + version +
           "</sparkle:version><link>https://example.com/</link></item>";
}

enum class CostlyFeed { longVersionPair, periodsOnly, itemsAtThePartLimit, longNumbers };

// A feed of about `size` bytes that makes reading and comparing versions costly.
QByteArray costlyFeed(CostlyFeed shape, qsizetype size) {
    const qsizetype room = size - 1024; // the markup around the versions
    switch (shape) {
    case CostlyFeed::longVersionPair: // "1.1.1…" against "1a.a.…"
        return feedOf(itemWithVersion("1" + QByteArray(".1").repeated(room / 4)) +
                      itemWithVersion("1" + QByteArray("a.").repeated(room / 4)));
    case CostlyFeed::periodsOnly:
        return feedOf(itemWithVersion(QByteArray(room, '.')));
    case CostlyFeed::itemsAtThePartLimit: {
        // 98 parts and a number that rises: each item is newer than those before it.
        const QByteArray stem = "1" + QByteArray(".1").repeated(48) + ".";
        QByteArray items;
        for (int i = 0; items.size() + 256 < room; ++i)
            items += itemWithVersion(stem + QByteArray::number(i));
        return feedOf(items);
    }
    case CostlyFeed::longNumbers: // equal but for the last of a million digits
        return feedOf(itemWithVersion("1" + QByteArray(room / 2 - 2, '0') + "1") +
                      itemWithVersion("1" + QByteArray(room / 2 - 2, '0') + "2"));
    }
    return {};
}

// Reads and judges the feed as the update worker does; range(0) is the feed's shape.
void UpdateFeedJudgement(benchmark::State& state) {
    const Appcast::Limits limits;
    const QByteArray feed = costlyFeed(static_cast<CostlyFeed>(state.range(0)), limits.maxBytes);
    double wall = 0;
    double cpu = 0;
    double processCpu = 0;
    qint64 peak = 0;
    int items = 0;
    int invalidItems = 0;
    for (auto _ : state) {
        malloc_trim(0);
        const qint64 before = statusBytes("VmRSS");
        if (!resetPeak()) {
            state.SkipWithError("cannot reset the resident peak");
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const double processCpuStart = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const auto appcast = Appcast::parse(feed, limits);
        const auto update = appcast ? appcast->validUpdate(QStringLiteral("15")) : std::nullopt;
        benchmark::DoNotOptimize(update);
        processCpu += cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processCpuStart;
        cpu += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        peak = std::max(peak, statusBytes("VmHWM") - before);
        items = appcast ? static_cast<int>(appcast->items.size()) : -1;
        invalidItems = appcast ? appcast->invalidItemCount : -1;
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["feed_MB"] = static_cast<double>(feed.size()) / 1e6;
    state.counters["wall_ms"] = wall * 1000.0 / iterations;
    state.counters["cpu_ms"] = cpu * 1000.0 / iterations; // the judging thread's own
    // All threads: whatever the reading hands to others, and what else the process runs.
    state.counters["process_cpu_ms"] = processCpu * 1000.0 / iterations;
    state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
    state.counters["items"] = items;
    state.counters["invalid_items"] = invalidItems;
}
BENCHMARK(UpdateFeedJudgement)->DenseRange(0, 3)->Iterations(3)->Unit(benchmark::kMillisecond);

// The application's updater is destroyed, as when the application quits, while its worker
// receives (range(0) = 200 ms after the server sent it) or reads (800 ms) a feed of 64 MiB:
// items at the part limit, a size only this benchmark accepts, so that reading it takes
// longer than a second. Manual time: the destruction alone.
void UpdateCheckerStopWhileReading(benchmark::State& state) {
    TemporarySettings userSettings;
    const qsizetype size = 64 * 1024 * 1024;
    const QByteArray feed = costlyFeed(CostlyFeed::itemsAtThePartLimit, size);
    LoopbackHttpServer server(10min);
    server.setDefaultReply({200, {{"Content-Type", "application/rss+xml"}}, feed});
    BundleInfo::setMainForTesting(
        BundleInfo({{BundleInfo::feedUrlKey, server.baseUrl() + QStringLiteral("/appcast.xml")},
                    {BundleInfo::versionKey, QStringLiteral("15")}}));
    UpdateChecker::Settings settings;
    settings.limits.maxBytes = size;
    settings.appcastLimits.maxBytes = size;
    const auto judgeStart = std::chrono::steady_clock::now();
    const double judgeCpuStart = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    benchmark::DoNotOptimize(Appcast::parse(feed, settings.appcastLimits));
    const double judgeSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - judgeStart).count();
    const double judgeCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - judgeCpuStart;
    QuitOnOutcome delegate;
    double worst = 0;
    double stopCpu = 0;
    for (auto _ : state) {
        auto controller = std::make_unique<UpdateController>(false, &delegate, settings);
        const std::size_t before = server.requests().size();
        controller->updater()->checkForUpdatesInBackground();
        LoopbackHttpServer::waitUntil([&] { return server.requests().size() > before; }, 60s);
        LoopbackHttpServer::waitUntil([] { return false; },
                                      std::chrono::milliseconds(state.range(0)));
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        controller.reset();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        stopCpu += cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
        state.SetIterationTime(seconds);
        worst = std::max(worst, seconds);
    }
    state.counters["reading_alone_ms"] = judgeSeconds * 1000.0;
    state.counters["reading_alone_process_cpu_ms"] = judgeCpu * 1000.0;
    state.counters["worst_stop_ms"] = worst * 1000.0;
    // All threads during the stop, the worker's last reading and the loopback server's
    // sending included.
    state.counters["stop_process_cpu_ms"] =
        stopCpu * 1000.0 / static_cast<double>(state.iterations());
    BundleInfo::setMainForTesting(std::nullopt);
}
BENCHMARK(UpdateCheckerStopWhileReading)
    ->Arg(200)
    ->Arg(800)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

} // namespace
