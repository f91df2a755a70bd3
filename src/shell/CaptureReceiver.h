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

    // `image` measures the selection in device-independent pixels and carries the screen's
    // pixels at its device pixel ratio; `frame` is the selection in the overlay's coordinates.
    virtual void showEditWindow(const QImage& image, const QRectF& frame) = 0;

    WeakLink weakLink() const { return self; }

protected:
    CaptureReceiver()
        : self(std::make_shared<CaptureReceiver* const>(this)) {}
    virtual ~CaptureReceiver() = default;

private:
    std::shared_ptr<CaptureReceiver* const> self;
};
