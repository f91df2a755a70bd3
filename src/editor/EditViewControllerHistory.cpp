// The undo/redo history: every shown image except a step back or forward, at most
// maxHistorySize of them.
#include "editor/EditViewController.h"

#include "editor/ControlPanel.h"
#include "editor/ImageView.h"
#include "editor/ToolbarButton.h"
#include "platform/BackgroundWork.h"
#include "platform/ClipboardWriter.h"
#include "sdk/PostHogSDK.h"

namespace {

void setButtonState(ToolbarButton* button, bool enabled) {
    if (!button)
        return;
    button->setEnabled(enabled);
    button->setAlphaValue(enabled ? 1.0 : 0.5);
}

AnalyticsProperties historyProperties(int index, std::size_t size) {
    return {{QStringLiteral("history_index"), static_cast<long long>(index)},
            {QStringLiteral("history_size"), static_cast<long long>(size)}};
}

// A packed entry as the history's worker makes it ready to show.
struct ReadyEntry {
    QImage image;
    QImage scaledForView; // as the image view draws it; null when drawn at its own size
};

} // namespace

void EditViewController::addToHistory(const QImage& image) {
    recordedPaddingDrag.reset();
    const int count = static_cast<int>(imageHistory.size());
    if (currentHistoryIndex < count - 1)
        imageHistory.erase(imageHistory.begin() + (currentHistoryIndex + 1), imageHistory.end());
    if (static_cast<int>(imageHistory.size()) < maxHistorySize)
        ++currentHistoryIndex;
    else
        imageHistory.erase(imageHistory.begin());
    imageHistory.emplace_back(image);
    keepOnlyShownEntryUnpacked();
    updateUndoRedoButtonsState();
}

void EditViewController::replaceNewestHistoryImage(const QImage& image) {
    if (imageHistory.empty()) {
        addToHistory(image);
        return;
    }
    imageHistory.back() = HistoryImage(image);
    keepOnlyShownEntryUnpacked();
}

void EditViewController::keepOnlyShownEntryUnpacked() {
    for (int i = 0; i < static_cast<int>(imageHistory.size()); ++i)
        imageHistory[size_t(i)].setShown(i == currentHistoryIndex);
}

void EditViewController::showHistoryEntry() {
    keepOnlyShownEntryUnpacked();
    const int index = currentHistoryIndex;
    HistoryImage& entry = imageHistory[size_t(index)];
    if (!entry.isPacked() || !imageView) {
        showImage(entry.image());
        autoCopyImageIfEnabled();
        return;
    }
    // The step's copy goes to the clipboard now, with its log line and event, and is filled
    // once the entry is unpacked: whatever overtakes the showing (another step, the window
    // closing) cannot lose it, and a paste meanwhile waits for it.
    std::optional<ClipboardWriter::PendingPng> copy;
    if (autoCopyEnabled())
        copy = ClipboardWriter::encodePngLater();
    // Unpacking a 4K entry and scaling it to the view take milliseconds each, tens on a
    // loaded machine: the worker does both, and the GUI thread only shows what it made.
    const quint64 step = ++stepsRequested;
    pendingStep->store(step);
    BackgroundWork::run(
        &historyWorker, this,
        [unpack = entry.unpacker(), pending = pendingStep, step,
         copy = copy ? copy->deliver : nullptr, viewSize = QSizeF(imageView->size()),
         ratio = imageView->devicePixelRatioF()] {
            ReadyEntry ready;
            if (pending->load() != step && !copy)
                return ready;
            ready.image = unpack();
            if (copy)
                copy(ready.image);
            if (pending->load() == step)
                ready.scaledForView = ImageView::scaledForView(ready.image, viewSize, ratio);
            return ready;
        },
        [this, step, index](ReadyEntry ready) {
            if (pendingStep->load() != step || currentHistoryIndex != index)
                return;
            imageHistory[size_t(index)].keepUnpacked(ready.image);
            showImage(ready.image, ready.scaledForView);
        });
    // Claimed once the unpacking is under way, which alone a paste then waits for.
    if (copy)
        autoCopyPng(copy->png);
}

void EditViewController::showPendingStepNow() {
    // The step has claimed its copy already.
    if (pendingStep->load() != 0)
        showImage(imageHistory[size_t(currentHistoryIndex)].image());
}

void EditViewController::updateUndoRedoButtonsState() {
    if (!controlPanel)
        return;
    setButtonState(controlPanel->undoButton, canUndo());
    setButtonState(controlPanel->redoButton, canRedo());
}

void EditViewController::controlPanelDidClickUndo(ControlPanel*) {
    if (!canUndo())
        return;
    --currentHistoryIndex;
    logger.info("Reverted to previous edit (history index: %ld)", currentHistoryIndex);
    PostHogSDK::shared().capture(QStringLiteral("edit_undone"),
                                 historyProperties(currentHistoryIndex, imageHistory.size()));
    showHistoryEntry();
    updateUndoRedoButtonsState();
}

void EditViewController::controlPanelDidClickRedo(ControlPanel*) {
    if (!canRedo())
        return;
    ++currentHistoryIndex;
    logger.info("Restored to next edit (history index: %ld)", currentHistoryIndex);
    PostHogSDK::shared().capture(QStringLiteral("edit_redone"),
                                 historyProperties(currentHistoryIndex, imageHistory.size()));
    showHistoryEntry();
    updateUndoRedoButtonsState();
}
