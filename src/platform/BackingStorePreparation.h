#pragma once

#include <QFuture>

#include <vector>

class QWidget;

// Makes a top-level window's native window (unmapped) and its backing store at the window's
// size, and has the backing store's memory brought in by pool threads while the caller goes
// on. A new 4K backing store is 33 MB, which the first paint would otherwise take from the
// kernel one page fault at a time; several threads asking for parts of it at once take a
// fraction of that time, and the caller's own work (reading the screen) overlaps it.
class BackingStorePreparation {
public:
    explicit BackingStorePreparation(QWidget* window);
    // Waits for the memory: the window must not paint before.
    ~BackingStorePreparation();
    BackingStorePreparation(const BackingStorePreparation&) = delete;
    BackingStorePreparation& operator=(const BackingStorePreparation&) = delete;

    void wait();

private:
    std::vector<QFuture<void>> parts;
};
