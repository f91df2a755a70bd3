#pragma once

#include <QFuture>

#include <vector>

class QImage;
class QWidget;

// Makes a top-level window's native window (unmapped) and its backing store at the window's
// size, so that its memory can be made ready before the first paint. A new 4K backing store
// is 33 MB, which the first paint would otherwise take from the kernel one page fault at a
// time on the GUI thread.
class BackingStorePreparation {
public:
    explicit BackingStorePreparation(QWidget* window);
    // Waits for the memory: the window must not paint before.
    ~BackingStorePreparation();
    BackingStorePreparation(const BackingStorePreparation&) = delete;
    BackingStorePreparation& operator=(const BackingStorePreparation&) = delete;

    // The image the window paints on, over the backing store's memory; null where the backing
    // store is not an image. Whatever is written to it before the first paint is there when
    // that paint begins.
    QImage* surface() const { return image; }

    // Has pool threads bring in the surface's memory while the caller goes on: several threads
    // asking for parts of it at once take a fraction of one thread's time.
    void bringInMemory();
    void wait();

private:
    QImage* image = nullptr;
    std::vector<QFuture<void>> parts;
};
