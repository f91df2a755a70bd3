// The undo/redo history: every shown image except a step back or forward, at most
// maxHistorySize of them.
#include "editor/EditViewController.h"

#include "editor/ControlPanel.h"
#include "editor/ToolbarButton.h"
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
    showImage(imageHistory[size_t(currentHistoryIndex)].image());
}

void EditViewController::updateUndoRedoButtonsState() {
    if (!controlPanel)
        return;
    setButtonState(controlPanel->undoButton, canUndo());
    setButtonState(controlPanel->redoButton, canRedo());
}

void EditViewController::controlPanelDidClickUndo(ControlPanel*) {
    if (currentHistoryIndex < 1)
        return;
    --currentHistoryIndex;
    showHistoryEntry();
    logger.info("Reverted to previous edit (history index: %ld)", currentHistoryIndex);
    PostHogSDK::shared().capture(QStringLiteral("edit_undone"),
                                 historyProperties(currentHistoryIndex, imageHistory.size()));
    autoCopyImageIfEnabled();
    updateUndoRedoButtonsState();
}

void EditViewController::controlPanelDidClickRedo(ControlPanel*) {
    if (currentHistoryIndex >= static_cast<int>(imageHistory.size()) - 1)
        return;
    ++currentHistoryIndex;
    showHistoryEntry();
    logger.info("Restored to next edit (history index: %ld)", currentHistoryIndex);
    PostHogSDK::shared().capture(QStringLiteral("edit_redone"),
                                 historyProperties(currentHistoryIndex, imageHistory.size()));
    autoCopyImageIfEnabled();
    updateUndoRedoButtonsState();
}
