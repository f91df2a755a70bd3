#pragma once

#include "platform/SharingService.h"

#include <QImage>
#include <QList>

#include <optional>
#include <vector>

class SharingServicePicker;

// What a share picker asks of its owner: which services to list, and what the user chose.
class SharingServicePickerDelegate {
public:
    virtual ~SharingServicePickerDelegate() = default;

    virtual std::vector<SharingService>
    sharingServicePickerSharingServicesForItemsProposedSharingServices(
        SharingServicePicker* picker, const QList<QImage>& items,
        std::vector<SharingService> proposedServices) = 0;
    // No service when the user dismissed the picker.
    virtual void
    sharingServicePickerDidChooseSharingService(SharingServicePicker* picker,
                                                const std::optional<SharingService>& service) = 0;
};
