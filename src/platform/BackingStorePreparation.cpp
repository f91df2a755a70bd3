#include "platform/BackingStorePreparation.h"

#include <QBackingStore>
#include <QImage>
#include <QWidget>

#include <sys/mman.h>
#include <unistd.h>

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

void prepareBackingStore(QWidget* window) {
    window->winId();
    QBackingStore* store = window->backingStore();
    if (!store)
        return;
    store->resize(window->size());
    QPaintDevice* device = store->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return;
    // The pixels are about to be painted over: the image is not detached, only its pages
    // are brought in.
    auto* image = static_cast<QImage*>(device);
    auto* pixels = const_cast<uchar*>(image->constBits());
    populate(pixels, pixels + image->sizeInBytes());
}
