// What an update check costs the GUI thread: the CPU time the GUI thread spends from asking
// for a check until the delegate has the outcome, while the worker thread downloads and reads
// a real feed from a loopback server. The GUI thread waits in its event loop meanwhile, which
// costs no CPU, so the figure is the thread's own work for one check.
#include "LoopbackHttpServer.h"
#include "ProcessCpu.h"
#include "platform/BundleInfo.h"
#include "sdk/UpdateCheckerDelegate.h"
#include "sdk/UpdateController.h"

#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <ctime>

namespace {

using namespace std::chrono_literals;

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
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
           "<title>Pixaloom</title>" +
           items + "</channel></rss>";
}

class QuitOnOutcome : public UpdateCheckerDelegate {
public:
    void updaterDidFindValidUpdate(UpdateChecker*, const AppcastItem&) override { loop.quit(); }
    void updaterDidNotFindUpdate(UpdateChecker*) override { loop.quit(); }
    QEventLoop loop;
};

// Automatic checks (no window) of a feed with `range(0)` releases, none newer than the host.
void UpdateCheckGuiThreadCost(benchmark::State& state) {
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

} // namespace
