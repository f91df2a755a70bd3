#pragma once

#include <QImage>
#include <QRectF>

#include <memory>

// Whoever opens the editor for a finished capture. The capture window holds it weakly: the
// link it keeps empties when the receiver is destroyed, so a late hand-off finds it gone
// instead of calling a destroyed object.
class CaptureReceiver {
public:
    using WeakLink = std::weak_ptr<CaptureReceiver* const>;

    CaptureReceiver(const CaptureReceiver&) = delete;
    CaptureReceiver& operator=(const CaptureReceiver&) = delete;

    // Called from the main queue, while the capture window is still open; it closes right
    // after. `image` measures the selection in device-independent pixels and carries the
    // screen's pixels at its device pixel ratio. `frame` is the selection in the overlay's
    // coordinates: device-independent pixels with the origin at the top-left corner of the
    // screen the capture window covered (Qt's orientation, y growing downwards), the same
    // size as `image`. It is not in global desktop coordinates: add that screen's geometry
    // top-left to place it on the desktop.
    virtual void showEditWindow(const QImage& image, const QRectF& frame) = 0;

    WeakLink weakLink() const { return self; }

protected:
    CaptureReceiver()
        : self(std::make_shared<CaptureReceiver* const>(this)) {}
    virtual ~CaptureReceiver() = default;

private:
    std::shared_ptr<CaptureReceiver* const> self;
};
