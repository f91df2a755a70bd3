#include "platform/ScreenGrabber.h"

#include "platform/PortalScreenGrabber.h"
#include "platform/QtScreenGrabber.h"

std::vector<std::unique_ptr<ScreenGrabber>> ScreenGrabber::standardGrabbers() {
    std::vector<std::unique_ptr<ScreenGrabber>> grabbers;
    grabbers.push_back(std::make_unique<QtScreenGrabber>());
    grabbers.push_back(std::make_unique<PortalScreenGrabber>());
    return grabbers;
}
