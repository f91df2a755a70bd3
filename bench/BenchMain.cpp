// Benchmark entry point: a QApplication, then Google Benchmark. Without a platform named in
// the environment, the benchmarks run offscreen on a 1920 x 1080 screen (the offscreen
// platform's own screen is 800 x 600), the size the capture and editor targets are set for.
// Run by hand: build/bench/bench [--benchmark_filter=...]
#include <QApplication>
#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <malloc.h>

namespace {

void useFullHdOffscreenScreen() {
    const QString path = QDir::temp().filePath(QStringLiteral("pixaloom-bench-screen.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    file.write(R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920,
        "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    setenv("QT_QPA_PLATFORM", qPrintable(QStringLiteral("offscreen:configfile=") + path), 1);
}

} // namespace

int main(int argc, char** argv) {
    // The allocator as the application sets it up (src/shell/main.cpp): large images have
    // mappings of their own. With glibc's default they come from the heap once one is freed,
    // and freeing one trims the heap under the allocator's lock, which every other thread's
    // allocation then waits for: tens of milliseconds of waiting no user of the application
    // has.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    if (!std::getenv("QT_QPA_PLATFORM"))
        useFullHdOffscreenScreen();
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
