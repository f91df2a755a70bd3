#include "platform/BackingStorePreparation.h"

#include <QBackingStore>
#include <QImage>
#include <QThread>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

namespace {

// Asks the kernel for every page of [begin, end) at once; where it cannot (kernels before
// 5.14), touches each page, writing back what it holds.
void populate(uchar* begin, uchar* end) {
    const auto pageSize = static_cast<quintptr>(sysconf(_SC_PAGESIZE));
    const quintptr first = reinterpret_cast<quintptr>(begin) & ~(pageSize - 1);
    if (madvise(reinterpret_cast<void*>(first), reinterpret_cast<quintptr>(end) - first,
                MADV_POPULATE_WRITE) == 0)
        return;
    for (volatile uchar* page = begin; page < end; page += pageSize)
        *page = *page;
}

} // namespace

BackingStorePreparation::BackingStorePreparation(QWidget* window) {
    window->winId();
    QBackingStore* store = window->backingStore();
    if (!store)
        return;
    store->resize(window->size());
    QPaintDevice* device = store->paintDevice();
    if (device && device->devType() == QInternal::Image)
        image = static_cast<QImage*>(device);
}

void BackingStorePreparation::bringInMemory() {
    if (!image || !parts.empty())
        return;
    // The pixels are about to be painted over: the image is not detached, only its pages
    // are brought in.
    auto* pixels = const_cast<uchar*>(image->constBits());
    const qsizetype size = image->sizeInBytes();
    // Beyond four threads the kernel's own locks make more of them no faster.
    const int count = std::clamp(QThread::idealThreadCount(), 1, 4);
    for (int part = 0; part < count; ++part) {
        uchar* begin = pixels + size * part / count;
        uchar* end = pixels + size * (part + 1) / count;
        parts.push_back(QtConcurrent::run([begin, end] { populate(begin, end); }));
    }
}

BackingStorePreparation::~BackingStorePreparation() {
    wait();
}

void BackingStorePreparation::wait() {
    for (QFuture<void>& part : parts)
        part.waitForFinished();
    parts.clear();
}
