// Peak memory of one edit whose reply is 200 MB: generateImage against a loopback server, the
// reply's image part being 150 MB of random bytes as base64 (argument 0), or the same with one
// character that is not base64, which takes the failure path (argument 1). The peak is the
// process's resident high-water mark (reset just before the edit) above what was resident before
// it, reported as a ratio to the reply's size. Target: at most 1.5.
#include "LoopbackHttpServer.h"
#include "ResidentMemory.h"
#include "sdk/SentrySDK.h"
#include "service/PixaloomService.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QImage>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <optional>

namespace {

QByteArray twoHundredMegabyteReply(bool damaged) {
    QByteArray image(150 * 1000 * 1000, Qt::Uninitialized);
    QRandomGenerator generator(11);
    generator.fillRange(reinterpret_cast<quint32*>(image.data()), image.size() / 4);
    QByteArray base64 = image.toBase64();
    if (damaged)
        base64[base64.size() / 2] = '!';
    return R"({"success":true,"parts":[{"type":"image","content":")" + base64 +
           R"("}],"timing":{"total_ms":1}})";
}

QCoro::Task<qsizetype> editedSize(PixaloomService& service) {
    try {
        const QByteArray image = co_await service.generateImage(
            QStringLiteral("p"), QImage(4, 4, QImage::Format_RGB32), std::nullopt, false);
        co_return image.size();
    } catch (const std::exception&) {
        co_return -1;
    }
}

void LargeReplyPeakMemory(benchmark::State& state) {
    LoopbackHttpServer server(std::chrono::minutes(10));
    LoopbackHttpServer::Reply reply;
    reply.body = twoHundredMegabyteReply(state.range(0) == 1);
    reply.headers.emplace_back("Content-Type", "application/json");
    // Sent in pieces from the one body, so the server adds no copy of its own to the peak.
    reply.bodyPieces = 400;
    server.setDefaultReply(reply);
    const double replySize = static_cast<double>(reply.body.size());
    SentrySDK crashReports;
    PixaloomService service({server.baseUrl(), &crashReports, std::chrono::seconds(60)});
    double ratio = 0;
    qsizetype imageSize = 0;
    for (auto _ : state) {
        // Replies of earlier runs wait for deferred deletion; they must not count as before.
        const std::optional<qint64> before = startResidentPeak();
        if (!before) {
            state.SkipWithError("cannot reset the resident peak");
            return;
        }
        imageSize = QCoro::waitFor(editedSize(service));
        ratio = std::max(ratio, static_cast<double>(statusBytes("VmHWM") - *before) / replySize);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    state.counters["reply_MB"] = replySize / 1e6;
    state.counters["image_MB"] = static_cast<double>(imageSize) / 1e6;
    state.counters["peak_vs_reply"] = ratio; // the largest of the edits; target <= 1.5
}
BENCHMARK(LargeReplyPeakMemory)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
