#pragma once

#include "platform/SharingService.h"

#include <QImage>
#include <QString>

#include <expected>
#include <vector>

// Hands images to the desktop's applications for PNG images.
namespace ImageSharing {
// The applications registered for image/png, in the desktop's order of preference.
std::vector<SharingService> servicesForImages();
// Writes the image to a private temporary PNG (readable by this user only, removed when the
// process ends) and launches the service's application with it. On failure, the reason.
std::expected<void, QString> perform(const SharingService& service, const QImage& image);
} // namespace ImageSharing
