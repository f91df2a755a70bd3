#include "editor/BandedPainting.h"

#include "platform/WorkerThreads.h"

#include <QImage>
#include <QPainter>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace {

// Rows per band: at 4K a band of the target and of what is painted into it, about half a
// megabyte together, stays in the cache between the steps that paint it.
constexpr int bandRows = 16;
// Past four threads the memory bus, not the cores, sets the pace.
constexpr int maxThreads = 4;

std::vector<QRect> bandsOf(const QRegion& area) {
    std::vector<QRect> bands;
    for (const QRect& rect : area)
        for (int y = rect.top(); y <= rect.bottom(); y += bandRows)
            bands.emplace_back(rect.left(), y, rect.width(),
                               std::min(bandRows, rect.bottom() + 1 - y));
    return bands;
}

// One painting, shared with the helpers that join in. A helper that starts only after every
// band is taken (its core busy with other work) finds nothing left and touches nothing but
// this; the caller waits only for the bands someone took.
struct Job {
    std::vector<QRect> bands;
    uchar* bits = nullptr;
    QSize size;
    qsizetype bytesPerLine = 0;
    QImage::Format format = QImage::Format_Invalid;
    const std::function<void(QPainter&, const QRect&)>* paintBand = nullptr;
    std::atomic<size_t> next = 0;
    std::atomic<size_t> done = 0;

    void takeBands() {
        // Each thread paints through an image of its own over the same pixels: painters on
        // one QImage from several threads would race on its bookkeeping.
        std::optional<QImage> view;
        std::optional<QPainter> painter;
        for (size_t band = next++; band < bands.size();) {
            if (!painter) {
                view.emplace(bits, size.width(), size.height(), bytesPerLine, format);
                painter.emplace(&*view);
            }
            (*paintBand)(*painter, bands[band]);
            // The painter is done with the pixels before the caller can learn that the last
            // band is: it may hand them to the X server, or free them, at once.
            const size_t following = next++;
            if (following >= bands.size()) {
                painter.reset();
                view.reset();
            }
            if (++done == bands.size())
                done.notify_all();
            band = following;
        }
    }
};

// Helpers kept for the next frame: starting threads anew would cost more than a band.
class HelperPool : public QThreadPool {
public:
    HelperPool() {
        setMaxThreadCount(std::max(std::min(WorkerThreads::count(), maxThreads) - 1, 0));
        setExpiryTimeout(-1);
    }
};

} // namespace

namespace BandedPainting {

void paint(QImage& target, const QRegion& area,
           const std::function<void(QPainter&, const QRect&)>& paintBand) {
    auto job = std::make_shared<Job>();
    job->bands = bandsOf(area & target.rect());
    if (job->bands.empty())
        return;
    job->bits = const_cast<uchar*>(target.constBits()); // constBits() does not detach
    job->size = target.size();
    job->bytesPerLine = target.bytesPerLine();
    job->format = target.format();
    job->paintBand = &paintBand;
    static HelperPool pool;
    const int joining = std::min(pool.maxThreadCount(), static_cast<int>(job->bands.size()) - 1);
    for (int i = 0; i < joining; ++i)
        pool.start([job] { job->takeBands(); });
    job->takeBands();
    for (size_t done = job->done; done != job->bands.size(); done = job->done)
        job->done.wait(done);
}

} // namespace BandedPainting
