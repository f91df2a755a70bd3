#include "editor/SharingServicePicker.h"

#include "editor/SharingServicePickerDelegate.h"
#include "platform/ImageSharing.h"
#include "platform/Logger.h"
#include "platform/MainQueue.h"

#include <QMenu>
#include <QWidget>

namespace {
const Logger logger{QStringLiteral("com.app.pixaloom"), QStringLiteral("SharingServicePicker")};
}

SharingServicePicker::SharingServicePicker(QList<QImage> items, QObject* parent)
    : QObject(parent)
    , items(std::move(items)) {
}

SharingServicePicker::~SharingServicePicker() {
    delete servicesMenu.data();
}

void SharingServicePicker::showRelativeToRect(const QRect& rect, QWidget* view,
                                              Qt::Edge preferredEdge) {
    listed = ImageSharing::servicesForImages();
    if (delegate)
        listed = delegate->sharingServicePickerSharingServicesForItemsProposedSharingServices(
            this, items, std::move(listed));
    if (!view) {
        MainQueue::async(this, [this] { finish(); });
        return;
    }
    servicesMenu = new QMenu(view);
    for (const auto& service : listed) {
        QAction* action = servicesMenu->addAction(service.title);
        connect(action, &QAction::triggered, this, [this, service] { choose(service); });
    }
    if (listed.empty()) {
        // The user learns why nothing can be chosen; the entry also gives the menu a size,
        // without which it would never open or close.
        logger.info("No application can take images");
        servicesMenu->addAction(tr("No application can share this image"))->setEnabled(false);
    }
    // The menu hides before it reports the triggered item; decide on the next turn.
    connect(servicesMenu, &QMenu::aboutToHide, this,
            [this] { MainQueue::async(this, [this] { finish(); }); });
    const QPoint anchor = preferredEdge == Qt::BottomEdge ? rect.bottomLeft() : rect.topLeft();
    servicesMenu->popup(view->mapToGlobal(anchor));
}

void SharingServicePicker::choose(const SharingService& service) {
    if (chosen || finished)
        return;
    chosen = service;
    if (!items.isEmpty()) {
        if (auto result = ImageSharing::perform(service, items.first()); !result)
            logger.error("Could not share with %s: %s", service.title, result.error());
    }
}

void SharingServicePicker::finish() {
    if (finished)
        return;
    finished = true;
    if (delegate)
        delegate->sharingServicePickerDidChooseSharingService(this, chosen);
    deleteLater();
}
