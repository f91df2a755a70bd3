#pragma once

#include "platform/SharingService.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QMenu>
#include <QPointer>

#include <optional>
#include <vector>

class QWidget;
class SharingServicePickerDelegate;

// A menu of the desktop's applications for images. Choosing one hands it the items; the
// picker then reports the choice (or the dismissal) to its delegate and deletes itself.
class SharingServicePicker : public QObject {
    Q_OBJECT
public:
    explicit SharingServicePicker(QList<QImage> items, QObject* parent = nullptr);
    ~SharingServicePicker() override;

    // Not owned; may be null.
    SharingServicePickerDelegate* delegate = nullptr;

    // Opens the menu at the rectangle of `view`, below it when `preferredEdge` is the
    // bottom edge and there is room.
    void showRelativeToRect(const QRect& rect, QWidget* view, Qt::Edge preferredEdge);
    QMenu* menu() const { return servicesMenu; }
    const std::vector<SharingService>& services() const { return listed; }

private:
    void choose(const SharingService& service);
    void finish();

    QList<QImage> items;
    std::vector<SharingService> listed;
    std::optional<SharingService> chosen;
    QPointer<QMenu> servicesMenu;
    bool finished = false;
};
