#pragma once

#include "platform/PackedImage.h"

#include <QImage>

#include <memory>

// One image of the undo/redo history. The shown entry keeps its pixels; every other entry is
// packed losslessly on a worker thread and gives up its pixels once packed, so twenty 4K
// images cost a fraction of their size. Used on the GUI thread only.
class HistoryImage {
public:
    explicit HistoryImage(const QImage& image);
    ~HistoryImage();
    HistoryImage(HistoryImage&&) noexcept;
    HistoryImage& operator=(HistoryImage&&) noexcept;

    // The pixels, unpacked if they were packed away; the same pixels as the image stored.
    QImage image() const;
    // The entry is shown: keep its pixels at hand. Not shown: pack them away.
    void setShown(bool shown);

    bool isPacked() const;
    // Bytes held now: the pixels where kept, the packed form where made.
    qsizetype byteSize() const;

private:
    struct State;
    std::shared_ptr<State> state;
};
