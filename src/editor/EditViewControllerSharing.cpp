// Copy, auto-copy and share of the shown image.
#include "editor/EditViewController.h"

#include "editor/ControlPanel.h"
#include "editor/ImageView.h"
#include "editor/SharingServicePicker.h"
#include "platform/ClipboardWriter.h"
#include "platform/UserDefaults.h"

bool EditViewController::autoCopyEnabled() {
    // Read afresh every time: the settings window may change it while the editor is open.
    return UserDefaults::boolForKey(UserDefaults::autoCopyKey);
}

void EditViewController::autoCopyImageIfEnabled() {
    if (!autoCopyEnabled())
        return;
    if (!imageView || imageView->image().isNull())
        return;
    ClipboardWriter::writeImage(imageView->image());
    logger.info("Auto-copied image to clipboard");
}

void EditViewController::autoCopyPng(std::shared_future<QByteArray> png) {
    ClipboardWriter::writePng(std::move(png));
    logger.info("Auto-copied image to clipboard");
}

void EditViewController::controlPanelDidClickCopy(ControlPanel*) {
    showPendingStepNow();
    if (!imageView || imageView->image().isNull()) {
        logger.error("No image available to copy");
        return;
    }
    ClipboardWriter::writeImage(imageView->image());
    logger.info("Image copied to clipboard successfully");
}

void EditViewController::controlPanelDidClickShare(ControlPanel* panel) {
    showPendingStepNow();
    if (!imageView || imageView->image().isNull()) {
        logger.error("No image available to share");
        return;
    }
    if (!rootView || rootView->window() == rootView.data() || !rootView->window()->isVisible() ||
        !panel) {
        logger.error("No window to show the share picker in");
        return;
    }
    auto* picker = new SharingServicePicker({imageView->image()}, rootView);
    picker->delegate = this;
    const QPoint centre = panel->geometry().center();
    picker->showRelativeToRect(QRect(centre, QSize(1, 1)), rootView, Qt::BottomEdge);
    logger.info("Share picker displayed");
}

std::vector<SharingService>
EditViewController::sharingServicePickerSharingServicesForItemsProposedSharingServices(
    SharingServicePicker*, const QList<QImage>&, std::vector<SharingService> proposedServices) {
    return proposedServices;
}

void EditViewController::sharingServicePickerDidChooseSharingService(
    SharingServicePicker*, const std::optional<SharingService>& service) {
    if (service)
        logger.info("User selected sharing service: %s", service->title);
    else
        logger.info("User canceled sharing");
}
