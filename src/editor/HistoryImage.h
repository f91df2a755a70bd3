#pragma once

#include "platform/PackedImage.h"

#include <QImage>

#include <functional>
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
    // For a packed entry: its unpacking, to run on a thread of its own (not of Qt's global
    // pool, which the unpacking itself uses), so the GUI thread need not wait for it.
    // keepUnpacked() then takes its result.
    std::function<QImage()> unpacker() const;
    // The pixels unpacker() made: kept while the entry is shown, so it is not unpacked again.
    void keepUnpacked(const QImage& pixels);

    bool isPacked() const;
    // Bytes held now: the pixels where kept, the packed form where made.
    qsizetype byteSize() const;

private:
    struct State;
    std::shared_ptr<State> state;
};
